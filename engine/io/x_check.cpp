#include "engine/io/x_check.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>

// The .x reader trusts the counts a file declares: a material list that names materials it does
// not hold, faces, normals or skin weights naming vertices that do not exist, or a second material
// list in one mesh make it read or write outside its arrays, and a deep nest of frames exhausts the
// stack. The walk below follows the reader's own rules object by object (its tokens, comments, its
// way of reading numbers, strings and unknown objects), so both always agree on where an object
// ends; a plain brace counter would not (a reference like "{ { }", or a string holding a brace,
// reads differently in different places). It keeps only counts, never the mesh itself.

namespace tarvo::engine::io {
namespace {

// Deepest nest of frames let through; the reader and everything after it recurse once a level.
constexpr int kMaxFrameDepth = 64;
// Sets of texture coordinates and of vertex colours the reader keeps per mesh.
constexpr unsigned kMaxSets = 8;

// Carries the reason out of the walk; caught in FindXFileProblem.
struct Refusal {
  std::string why;
};

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }
bool IsDelimiter(char c) { return c == ';' || c == ',' || c == '{' || c == '}'; }

class XTextWalker {
 public:
  explicit XTextWalker(std::string_view data) : data_(data) {}

  void Run() {
    pos_ = 16;  // past "xof 0303txt 0032"; the rest of the header line is skipped too
    SkipLine();
    for (;;) {
      const std::string_view name = Token();
      if (name.empty()) return;
      if (name == "template") {
        Template();
      } else if (name == "Frame") {
        Frame(1);
      } else if (name == "Mesh") {
        Mesh();
      } else if (name == "Material") {
        Material();
      } else if (name == "AnimTicksPerSecond") {
        Head();
        ReadInt();
        CloseBrace();
      } else if (name == "AnimationSet") {
        AnimationSet();
      } else if (name != "}") {  // a stray brace is skipped at the top
        Unknown();
      }
    }
  }

 private:
  [[noreturn]] void Refuse(const std::string& why) const {
    const auto line = std::count(data_.begin(), data_.begin() + std::min(pos_, data_.size()), '\n');
    throw Refusal{"line " + std::to_string(line + 1) + ": " + why};
  }

  char At(size_t i) const { return i < data_.size() ? data_[i] : '\0'; }

  void SkipLine() {
    while (pos_ < data_.size()) {
      const char c = data_[pos_++];
      if (c == '\n' || c == '\r') return;
    }
  }

  // Whitespace and comments; a comment starts only where a token would.
  void SkipSpace() {
    for (;;) {
      while (pos_ < data_.size() && IsSpace(data_[pos_])) ++pos_;
      if (pos_ >= data_.size()) return;
      if (data_[pos_] == '#' || (data_[pos_] == '/' && At(pos_ + 1) == '/')) {
        SkipLine();
      } else {
        return;
      }
    }
  }

  // A delimiter on its own, or a run of anything else up to whitespace or a delimiter; empty at
  // the end of the data.
  std::string_view Token() {
    SkipSpace();
    const size_t start = pos_;
    while (pos_ < data_.size() && !IsSpace(data_[pos_])) {
      if (IsDelimiter(data_[pos_])) {
        if (pos_ == start) ++pos_;
        break;
      }
      ++pos_;
    }
    return data_.substr(start, pos_ - start);
  }

  void Expect(std::string_view token, const char* what) {
    if (Token() != token) Refuse(std::string(what) + " expected");
  }
  void CloseBrace() { Expect("}", "closing brace"); }
  void Semicolon() { Expect(";", "semicolon"); }
  void Separator() {
    const std::string_view token = Token();
    if (token != ";" && token != ",") Refuse("separator expected");
  }
  void OptionalSeparator() {
    SkipSpace();
    if (pos_ < data_.size() && (data_[pos_] == ';' || data_[pos_] == ',')) ++pos_;
  }

  // An object's opening: "Name {" or "{"; gives the name.
  std::string_view Head() {
    const std::string_view name = Token();
    if (name == "{") return {};
    Expect("{", "opening brace");
    return name;
  }

  unsigned ReadInt() {
    SkipSpace();
    const bool negative = At(pos_) == '-';
    if (negative) ++pos_;
    if (!IsDigit(At(pos_))) Refuse("number expected");
    unsigned value = 0;
    while (pos_ < data_.size() && IsDigit(data_[pos_])) {
      value = value * 10 + static_cast<unsigned>(data_[pos_++] - '0');
    }
    Separator();
    return negative ? 0u - value : value;
  }

  void ReadFloats(int count) {
    for (int i = 0; i < count; ++i) {
      SkipSpace();
      // Spellings of "not a number" some exporters write; the reader steps over them by a fixed
      // width, one byte past the end for the shorter one.
      const std::string_view rest = data_.substr(pos_);
      if (rest.starts_with("-1.#IND00") || rest.starts_with("1.#IND00")) {
        pos_ += 9;
      } else if (rest.starts_with("1.#QNAN0")) {
        pos_ += 8;
      } else {
        pos_ = FloatEnd(pos_);
      }
      if (pos_ > data_.size()) Refuse("number runs past the end");
      Separator();
    }
  }

  // Where the reader's number parser stops. It does not stop at token ends: a comma between
  // digits is a decimal point to it ("1,5"), and "nan" or "inf" may be glued to what follows.
  size_t FloatEnd(size_t c) const {
    const auto digit = [this](size_t i) { return At(i) >= '0' && At(i) <= '9'; };
    const auto word = [this](size_t i, std::string_view w) {
      for (size_t k = 0; k < w.size(); ++k) {
        if (std::tolower(static_cast<unsigned char>(At(i + k))) != w[k]) return false;
      }
      return true;
    };
    // A run of digits; one too long for 64 bits makes the reader give up.
    const auto digits = [&](size_t i, bool bounded) {
      uint64_t value = 0;
      for (; digit(i); ++i) {
        const uint64_t next = value * 10 + static_cast<uint64_t>(At(i) - '0');
        if (next < value && bounded) Refuse("number too long");
        value = next;
      }
      return i;
    };
    if (At(c) == '-' || At(c) == '+') ++c;
    if (word(c, "nan")) return c + 3;
    if (word(c, "inf")) return word(c + 3, "inity") ? c + 8 : c + 3;
    const bool point = (At(c) == '.' || At(c) == ',') && digit(c + 1);
    if (!digit(c) && !point) Refuse("number expected");
    if (!point) c = digits(c, true);
    if ((At(c) == '.' || At(c) == ',') && digit(c + 1)) {
      c = digits(c + 1, false);  // only the first 15 decimals count, so no overflow here
    } else if (At(c) == '.') {
      ++c;
    }
    if (At(c) == 'e' || At(c) == 'E') {
      ++c;
      if (At(c) == '-' || At(c) == '+') ++c;
      if (!digit(c)) Refuse("number expected");
      c = digits(c, true);
    }
    return c;
  }

  void ReadVector(int size) {
    ReadFloats(size);
    OptionalSeparator();
  }

  // A quoted string followed directly by a semicolon; anything may stand between the quotes.
  void ReadString() {
    SkipSpace();
    if (At(pos_) != '"') Refuse("string expected");
    ++pos_;
    while (pos_ < data_.size() && data_[pos_] != '"') ++pos_;
    if (pos_ + 1 >= data_.size() || data_[pos_ + 1] != ';') Refuse("unterminated string");
    pos_ += 2;
  }

  // An object the reader does not know: skipped up to its first brace and to the brace matching
  // it.
  void Unknown() {
    for (std::string_view token = Token(); token != "{"; token = Token()) {
      if (token.empty()) Refuse("unexpected end in an object");
    }
    for (unsigned depth = 1; depth > 0;) {
      const std::string_view token = Token();
      if (token.empty()) Refuse("unexpected end in an object");
      if (token == "{") ++depth;
      if (token == "}") --depth;
    }
  }

  // A template ends at its first closing brace, whatever it holds.
  void Template() {
    Head();
    Token();  // its identifier
    for (std::string_view token = Token(); token != "}"; token = Token()) {
      if (token.empty()) Refuse("unexpected end in a template");
    }
  }

  void Frame(int depth) {
    if (depth > kMaxFrameDepth) Refuse("frames nest too deeply");
    Head();
    for (;;) {
      const std::string_view name = Token();
      if (name.empty()) Refuse("unexpected end in a frame");
      if (name == "}") return;
      if (name == "Frame") {
        Frame(depth + 1);
      } else if (name == "FrameTransformMatrix") {
        Head();
        ReadFloats(16);
        Semicolon();
        CloseBrace();
      } else if (name == "Mesh") {
        Mesh();
      } else {
        Unknown();
      }
    }
  }

  void Mesh() {
    Head();
    const unsigned vertices = ReadInt();
    for (unsigned i = 0; i < vertices; ++i) ReadVector(3);
    const unsigned faces = ReadInt();
    for (unsigned f = 0; f < faces; ++f) {
      const unsigned corners = ReadInt();
      for (unsigned c = 0; c < corners; ++c) {
        if (ReadInt() >= vertices) Refuse("a face names a vertex the mesh does not have");
      }
      OptionalSeparator();
    }
    bool has_material_list = false;
    unsigned coord_sets = 0;
    unsigned colour_sets = 0;
    for (;;) {
      const std::string_view name = Token();
      if (name.empty()) Refuse("unexpected end in a mesh");
      if (name == "}") return;
      if (name == "MeshNormals") {
        Normals(faces);
      } else if (name == "MeshTextureCoords") {
        Head();
        if (++coord_sets > kMaxSets) Refuse("too many sets of texture coordinates");
        if (ReadInt() != vertices) Refuse("texture coordinates do not match the vertices");
        for (unsigned i = 0; i < vertices; ++i) ReadVector(2);
        CloseBrace();
      } else if (name == "MeshVertexColors") {
        Head();
        if (++colour_sets > kMaxSets) Refuse("too many sets of vertex colours");
        if (ReadInt() != vertices) Refuse("vertex colours do not match the vertices");
        for (unsigned i = 0; i < vertices; ++i) {
          if (ReadInt() >= vertices) Refuse("a colour names a vertex the mesh does not have");
          ReadVector(4);
          OptionalSeparator();  // some exporters add one more
        }
        CloseBrace();
      } else if (name == "MeshMaterialList") {
        // The reader appends a second list to the first, past the faces.
        if (has_material_list) Refuse("a mesh with two material lists");
        has_material_list = true;
        MaterialList(faces);
      } else if (name == "XSkinMeshHeader") {
        Head();
        ReadInt();
        ReadInt();
        ReadInt();
        CloseBrace();
      } else if (name == "SkinWeights") {
        SkinWeights(vertices);
      } else {
        Unknown();
      }
    }
  }

  void Normals(unsigned faces) {
    Head();
    const unsigned normals = ReadInt();
    for (unsigned i = 0; i < normals; ++i) ReadVector(3);
    if (ReadInt() != faces) Refuse("normal faces do not match the faces");
    for (unsigned f = 0; f < faces; ++f) {
      const unsigned corners = ReadInt();
      for (unsigned c = 0; c < corners; ++c) {
        if (ReadInt() >= normals) Refuse("a face names a normal the mesh does not have");
      }
      OptionalSeparator();
    }
    CloseBrace();
  }

  void MaterialList(unsigned faces) {
    Head();
    const unsigned declared = ReadInt();
    const unsigned indices = ReadInt();
    // One index stands for every face, but there must be a face to stand for.
    if (indices != faces && (indices != 1 || faces == 0)) {
      Refuse("material indices do not match the faces");
    }
    for (unsigned i = 0; i < indices; ++i) {
      if (ReadInt() >= declared) Refuse("a face names a material the list does not declare");
    }
    if (At(pos_) == ';' && pos_ < data_.size()) ++pos_;
    unsigned held = 0;
    for (;;) {
      const std::string_view name = Token();
      if (name.empty()) Refuse("unexpected end in a material list");
      if (name == "}") break;
      if (name == "{") {  // a reference to a material by name
        Token();
        CloseBrace();
        ++held;
      } else if (name == "Material") {
        Material();
        ++held;
      } else if (name != ";") {
        Unknown();
      }
    }
    if (held < declared) {
      Refuse("the material list declares " + std::to_string(declared) + " materials but holds " +
             std::to_string(held));
    }
  }

  void Material() {
    Head();
    ReadVector(4);  // diffuse colour
    ReadFloats(1);  // specular power
    ReadVector(3);  // specular colour
    ReadVector(3);  // emissive colour
    for (;;) {
      const std::string_view name = Token();
      if (name.empty()) Refuse("unexpected end in a material");
      if (name == "}") return;
      if (name == "TextureFilename" || name == "TextureFileName" || name == "NormalmapFilename" ||
          name == "NormalmapFileName") {
        Head();
        ReadString();
        CloseBrace();
      } else {
        Unknown();
      }
    }
  }

  void SkinWeights(unsigned vertices) {
    Head();
    ReadString();  // the frame it moves
    const unsigned weights = ReadInt();
    for (unsigned i = 0; i < weights; ++i) {
      if (ReadInt() >= vertices) Refuse("a skin weight names a vertex the mesh does not have");
    }
    for (unsigned i = 0; i < weights; ++i) ReadFloats(1);
    ReadFloats(16);
    Semicolon();
    CloseBrace();
  }

  void AnimationSet() {
    Head();
    for (;;) {
      const std::string_view name = Token();
      if (name.empty()) Refuse("unexpected end in an animation set");
      if (name == "}") return;
      if (name == "Animation") {
        Animation();
      } else {
        Unknown();
      }
    }
  }

  void Animation() {
    Head();
    for (;;) {
      const std::string_view name = Token();
      if (name.empty()) Refuse("unexpected end in an animation");
      if (name == "}") return;
      if (name == "AnimationKey") {
        AnimationKey();
      } else if (name == "{") {  // the frame it moves, by name
        Token();
        CloseBrace();
      } else {
        Unknown();
      }
    }
  }

  void AnimationKey() {
    Head();
    const unsigned type = ReadInt();
    const unsigned keys = ReadInt();
    for (unsigned k = 0; k < keys; ++k) {
      ReadInt();  // time
      const unsigned values = ReadInt();
      if (type == 0 && values == 4) {
        ReadFloats(4);
        Semicolon();
      } else if ((type == 1 || type == 2) && values == 3) {
        ReadVector(3);
      } else if ((type == 3 || type == 4) && values == 16) {
        ReadFloats(16);
        Semicolon();
      } else {
        Refuse("unknown animation key");
      }
      Separator();
    }
    CloseBrace();
  }

  std::string_view data_;
  size_t pos_ = 0;
};

}  // namespace

bool IsXFile(std::string_view data) {
  return data.starts_with("xof ") || data.starts_with("\xEF\xBB\xBFxof ");
}

std::string FindXFileProblem(std::string_view data) {
  if (!IsXFile(data)) return {};
  if (!data.starts_with("xof ")) data.remove_prefix(3);  // the reader drops the mark too
  if (data.size() < 16) return "too short for a .x file";
  const std::string_view format = data.substr(8, 4);
  // Meshes travel and are kept as text; the binary forms would need a second walk of their own.
  if (format == "bin " || format == "bzip") return "binary .x files are not read";
  if (format == "tzip") return "compressed .x files are not read";
  if (format != "txt ") return "unknown .x format";
  try {
    XTextWalker(data).Run();
  } catch (const Refusal& refusal) {
    return refusal.why;
  }
  return {};
}

}  // namespace tarvo::engine::io
