#include "engine/gl/gl_renderer.h"

#include <spdlog/spdlog.h>

#include <QOpenGLContext>
#include <QOpenGLShaderProgram>
#include <algorithm>
#include <cmath>
#include <glm/geometric.hpp>
#include <glm/gtc/type_ptr.hpp>
#include <glm/mat3x3.hpp>

#include "engine/scene/shadow.h"

namespace tarvo::engine::gl {
namespace {

constexpr int kMaxLights = 8;
constexpr uint64_t kEvictAfterFrames = 120;
constexpr int kFloatsPerVertex = 11;  // position, normal, texture coordinates, colour
constexpr float kShadowLift = 0.15f;  // keeps a shadow just above the plane it lies on
constexpr float kShadowAlpha = 0.55f;

constexpr char kMeshVertex[] = R"(#version 330 core
layout(location = 0) in vec3 a_position;
layout(location = 1) in vec3 a_normal;
layout(location = 2) in vec2 a_uv;
layout(location = 3) in vec3 a_color;
uniform mat4 u_model;
uniform mat3 u_normal_matrix;
uniform mat4 u_view_projection;
out vec3 v_world;
out vec3 v_normal;
out vec2 v_uv;
out vec3 v_color;
void main() {
  vec4 world = u_model * vec4(a_position, 1.0);
  v_world = world.xyz;
  v_normal = u_normal_matrix * a_normal;
  v_uv = a_uv;
  v_color = a_color;
  gl_Position = u_view_projection * world;
}
)";

constexpr char kMeshFragment[] = R"(#version 330 core
in vec3 v_world;
in vec3 v_normal;
in vec2 v_uv;
in vec3 v_color;
uniform vec3 u_ambient;
uniform int u_light_count;
uniform vec3 u_light_position[8];
uniform vec3 u_light_color[8];
uniform bool u_textured;
uniform sampler2D u_texture;
out vec4 out_color;
void main() {
  vec3 n = normalize(v_normal);
  vec3 light = u_ambient;
  for (int i = 0; i < u_light_count; ++i) {
    vec3 to_light = normalize(u_light_position[i] - v_world);
    light += u_light_color[i] * max(dot(n, to_light), 0.0);
  }
  vec3 base = v_color;
  if (u_textured) base *= texture(u_texture, v_uv).rgb;
  out_color = vec4(min(base * light, vec3(1.0)), 1.0);
}
)";

constexpr char kShadowVertex[] = R"(#version 330 core
layout(location = 0) in vec3 a_position;
uniform mat4 u_model;
uniform mat4 u_shadow;
uniform mat4 u_view_projection;
void main() {
  gl_Position = u_view_projection * (u_shadow * (u_model * vec4(a_position, 1.0)));
}
)";

constexpr char kShadowFragment[] = R"(#version 330 core
uniform float u_alpha;
out vec4 out_color;
void main() { out_color = vec4(0.0, 0.0, 0.0, u_alpha); }
)";

constexpr char kDecalVertex[] = R"(#version 330 core
layout(location = 0) in vec4 a_clip;
layout(location = 1) in vec2 a_uv;
out vec2 v_uv;
void main() {
  v_uv = a_uv;
  gl_Position = a_clip;
}
)";

constexpr char kDecalFragment[] = R"(#version 330 core
in vec2 v_uv;
uniform sampler2D u_texture;
uniform bool u_transparent;
uniform vec3 u_key;
out vec4 out_color;
void main() {
  vec3 texel = texture(u_texture, v_uv).rgb;
  if (u_transparent && all(lessThan(abs(texel - u_key), vec3(0.5 / 255.0)))) discard;
  out_color = vec4(texel, 1.0);
}
)";

// Projects points from a point light onto the plane n.x + d = 0 (lifted slightly towards the
// light so the shadow is not hidden by the plane itself).
glm::mat4 ShadowMatrix(glm::vec3 light, glm::vec3 point, glm::vec3 normal) {
  glm::vec3 n = glm::length(normal) > 0 ? glm::normalize(normal) : glm::vec3(0, 1, 0);
  if (glm::dot(n, light - point) < 0) n = -n;
  const glm::vec4 plane(n, -glm::dot(n, point) - kShadowLift);
  const glm::vec4 l(light, 1.0f);
  const float d = glm::dot(plane, l);
  glm::mat4 m(0.0f);
  for (int col = 0; col < 4; ++col) {
    for (int row = 0; row < 4; ++row) m[col][row] = (row == col ? d : 0.0f) - l[row] * plane[col];
  }
  return m;
}

}  // namespace

struct GlRenderer::Program {
  QOpenGLShaderProgram program;
  bool Build(const char* vertex, const char* fragment) {
    if (!program.addShaderFromSourceCode(QOpenGLShader::Vertex, vertex) ||
        !program.addShaderFromSourceCode(QOpenGLShader::Fragment, fragment) || !program.link()) {
      spdlog::error("shader: {}", program.log().toStdString());
      return false;
    }
    return true;
  }
  // Locations are looked up once; drawing asks for them for every mesh.
  int Uniform(const char* name) {
    auto it = locations.find(name);
    if (it == locations.end()) it = locations.emplace(name, program.uniformLocation(name)).first;
    return it->second;
  }
  std::unordered_map<std::string, int> locations;
};

struct GlRenderer::Frame3d {
  glm::mat4 view_projection;
  glm::mat4 view;
  glm::mat4 camera_world;
  glm::mat4 projection;
  int width;
  int height;
  std::vector<PlacedLight> lights;
  std::vector<std::pair<const Shadow*, glm::mat4>> shadows;
  std::vector<std::pair<const Texture*, glm::mat4>> decals;
};

QSurfaceFormat RendererFormat() {
  QSurfaceFormat format;
  format.setVersion(3, 3);
  format.setProfile(QSurfaceFormat::CoreProfile);
  format.setDepthBufferSize(24);
  format.setStencilBufferSize(8);
  format.setRenderableType(QSurfaceFormat::OpenGL);
  format.setSwapInterval(1);  // frames wait for the screen's refresh where the driver can
  return format;
}

GlRenderer::GlRenderer() = default;

GlRenderer::~GlRenderer() {
  if (QOpenGLContext::currentContext()) Release();
}

bool GlRenderer::Initialize() {
  QOpenGLContext* context = QOpenGLContext::currentContext();
  if (!context) {
    spdlog::error("renderer: no current OpenGL context");
    return false;
  }
  gl_ = context->extraFunctions();
  gl_->initializeOpenGLFunctions();
  mesh_program_ = std::make_unique<Program>();
  shadow_program_ = std::make_unique<Program>();
  decal_program_ = std::make_unique<Program>();
  if (!mesh_program_->Build(kMeshVertex, kMeshFragment) ||
      !shadow_program_->Build(kShadowVertex, kShadowFragment) ||
      !decal_program_->Build(kDecalVertex, kDecalFragment)) {
    return false;
  }
  gl_->glGenVertexArrays(1, &decal_vao_);
  gl_->glGenBuffers(1, &decal_vbo_);
  gl_->glBindVertexArray(decal_vao_);
  gl_->glBindBuffer(GL_ARRAY_BUFFER, decal_vbo_);
  gl_->glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(36 * sizeof(float)), nullptr,
                    GL_DYNAMIC_DRAW);
  gl_->glEnableVertexAttribArray(0);
  gl_->glVertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, 6 * sizeof(float), nullptr);
  gl_->glEnableVertexAttribArray(1);
  gl_->glVertexAttribPointer(
      1, 2, GL_FLOAT, GL_FALSE, 6 * sizeof(float),
      // NOLINTNEXTLINE(performance-no-int-to-ptr): GL takes buffer offsets so
      reinterpret_cast<void*>(4 * sizeof(float)));
  gl_->glBindVertexArray(0);
  return true;
}

void GlRenderer::Release() {
  if (!gl_) return;
  for (auto& [id, mesh] : meshes_) {
    gl_->glDeleteBuffers(1, &mesh.vbo);
    gl_->glDeleteVertexArrays(1, &mesh.vao);
  }
  meshes_.clear();
  for (auto& [id, texture] : textures_) gl_->glDeleteTextures(1, &texture.id);
  textures_.clear();
  if (decal_vbo_) gl_->glDeleteBuffers(1, &decal_vbo_);
  if (decal_vao_) gl_->glDeleteVertexArrays(1, &decal_vao_);
  decal_vbo_ = decal_vao_ = 0;
  mesh_program_.reset();
  shadow_program_.reset();
  decal_program_.reset();
  gl_ = nullptr;
}

GlRenderer::GpuMesh* GlRenderer::Upload(uint64_t id, uint32_t version, const MeshData& data) {
  auto [it, added] = meshes_.try_emplace(id);
  GpuMesh& mesh = it->second;
  mesh.last_frame = frame_number_;
  if (!added && mesh.version == version) return &mesh;
  mesh.version = version;
  mesh.batches.clear();
  if (!mesh.vao) {
    gl_->glGenVertexArrays(1, &mesh.vao);
    gl_->glGenBuffers(1, &mesh.vbo);
  }
  // Faces become triangle fans, grouped by texture so each texture is bound once.
  std::vector<const Texture*> order;
  std::unordered_map<const Texture*, std::vector<const Face*>> groups;
  for (const Face& face : data.faces) {
    const Texture* texture = face.texture.get();
    if (!groups.count(texture)) order.push_back(texture);
    groups[texture].push_back(&face);
  }
  std::vector<float> vertices;
  for (const Texture* texture : order) {
    Batch batch;
    batch.first = static_cast<int>(vertices.size() / kFloatsPerVertex);
    batch.texture = texture;
    for (const Face* face : groups[texture]) {
      if (!batch.keep && face->texture) batch.keep = face->texture;
      for (size_t i = 1; i + 1 < face->indices.size(); ++i) {
        for (size_t corner : {size_t{0}, i, i + 1}) {
          const uint32_t v = face->indices[corner];
          const glm::vec3& p = data.positions[v];
          const glm::vec2 uv = v < data.uvs.size() ? data.uvs[v] : glm::vec2(0.0f);
          vertices.insert(vertices.end(),
                          {p.x, p.y, p.z, face->normal.x, face->normal.y, face->normal.z, uv.x,
                           uv.y, face->color.r, face->color.g, face->color.b});
        }
      }
    }
    batch.count = static_cast<int>(vertices.size() / kFloatsPerVertex) - batch.first;
    if (batch.count > 0) mesh.batches.push_back(std::move(batch));
  }
  gl_->glBindVertexArray(mesh.vao);
  gl_->glBindBuffer(GL_ARRAY_BUFFER, mesh.vbo);
  gl_->glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertices.size() * sizeof(float)),
                    vertices.data(), GL_STATIC_DRAW);
  const GLsizei stride = kFloatsPerVertex * sizeof(float);
  const int sizes[] = {3, 3, 2, 3};
  size_t offset = 0;
  for (int attribute = 0; attribute < 4; ++attribute) {
    gl_->glEnableVertexAttribArray(attribute);
    gl_->glVertexAttribPointer(attribute, sizes[attribute], GL_FLOAT, GL_FALSE, stride,
                               // NOLINTNEXTLINE(performance-no-int-to-ptr): a buffer offset
                               reinterpret_cast<void*>(offset * sizeof(float)));
    offset += sizes[attribute];
  }
  gl_->glBindVertexArray(0);
  return &mesh;
}

unsigned GlRenderer::BindTexture(const Texture& texture, bool decal) {
  auto [it, added] = textures_.try_emplace(texture.id());
  GpuTexture& gpu = it->second;
  gpu.last_frame = frame_number_;
  if (!gpu.id) gl_->glGenTextures(1, &gpu.id);
  gl_->glBindTexture(GL_TEXTURE_2D, gpu.id);
  if (added || gpu.version != texture.version()) {
    gpu.version = texture.version();
    const Image& image = texture.image();
    if (image.Empty()) {
      const uint32_t white = 0xFFFFFFFFu;
      gl_->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1, 1, 0, GL_BGRA, GL_UNSIGNED_BYTE, &white);
    } else {
      gl_->glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
      gl_->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, image.width, image.height, 0, GL_BGRA,
                        GL_UNSIGNED_BYTE, image.pixels.data());
    }
    gl_->glGenerateMipmap(GL_TEXTURE_2D);
    gl_->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    gl_->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  }
  // Decals keep their exact pixels, so a transparent colour stays exact.
  gl_->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER,
                       decal ? GL_NEAREST : GL_LINEAR_MIPMAP_LINEAR);
  gl_->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, decal ? GL_NEAREST : GL_LINEAR);
  return gpu.id;
}

void GlRenderer::DrawMesh(const MeshData& data, uint64_t id, uint32_t version,
                          const glm::mat4& world) {
  if (data.faces.empty()) return;
  GpuMesh* mesh = Upload(id, version, data);
  const int textured = mesh_program_->Uniform("u_textured");
  const glm::mat3 normal_matrix = glm::transpose(glm::inverse(glm::mat3(world)));
  gl_->glUniformMatrix4fv(mesh_program_->Uniform("u_model"), 1, GL_FALSE, glm::value_ptr(world));
  gl_->glUniformMatrix3fv(mesh_program_->Uniform("u_normal_matrix"), 1, GL_FALSE,
                          glm::value_ptr(normal_matrix));
  gl_->glBindVertexArray(mesh->vao);
  for (const Batch& batch : mesh->batches) {
    if (batch.texture) BindTexture(*batch.texture, false);
    gl_->glUniform1i(textured, batch.texture != nullptr);
    gl_->glDrawArrays(GL_TRIANGLES, batch.first, batch.count);
  }
}

void GlRenderer::DrawFrame(const Frame& frame, const glm::mat4& parent_world, Frame3d& state) {
  const glm::mat4 world = parent_world * frame.LocalMatrix();
  for (const auto& visual : frame.visuals()) {
    switch (visual->kind()) {
      case Visual::Kind::kMeshBuilder: {
        const auto& builder = static_cast<const MeshBuilder&>(*visual);
        DrawMesh(builder.data(), builder.id(), builder.version(), world);
        break;
      }
      case Visual::Kind::kMesh: {
        const auto& mesh = static_cast<const Mesh&>(*visual);
        DrawMesh(mesh.data(), mesh.id(), 0, world);
        break;
      }
      case Visual::Kind::kShadow:
        state.shadows.emplace_back(static_cast<const Shadow*>(visual.get()), world);
        break;
      case Visual::Kind::kDecal:
        state.decals.emplace_back(static_cast<const Texture*>(visual.get()), world);
        break;
    }
  }
  for (const auto& child : frame.children()) DrawFrame(*child, world, state);
}

void GlRenderer::DrawShadow(const Shadow& shadow, const glm::mat4& world, Frame3d& state) {
  if (!shadow.mesh() || !shadow.light()) return;
  const PlacedLight* placed = nullptr;
  for (const auto& light : state.lights) {
    if (light.light == shadow.light().get()) placed = &light;
  }
  if (!placed) return;  // the light is not in the scene
  const MeshData* data = nullptr;
  uint64_t id = 0;
  uint32_t version = 0;
  if (shadow.mesh()->kind() == Visual::Kind::kMesh) {
    const auto& mesh = static_cast<const Mesh&>(*shadow.mesh());
    data = &mesh.data();
    id = mesh.id();
  } else if (shadow.mesh()->kind() == Visual::Kind::kMeshBuilder) {
    const auto& builder = static_cast<const MeshBuilder&>(*shadow.mesh());
    data = &builder.data();
    id = builder.id();
    version = builder.version();
  }
  if (!data || data->faces.empty()) return;
  GpuMesh* mesh = Upload(id, version, *data);
  const glm::mat4 projection = ShadowMatrix(placed->position, shadow.point(), shadow.normal());
  gl_->glUniformMatrix4fv(shadow_program_->Uniform("u_model"), 1, GL_FALSE, glm::value_ptr(world));
  gl_->glUniformMatrix4fv(shadow_program_->Uniform("u_shadow"), 1, GL_FALSE,
                          glm::value_ptr(projection));
  gl_->glBindVertexArray(mesh->vao);
  for (const Batch& batch : mesh->batches)
    gl_->glDrawArrays(GL_TRIANGLES, batch.first, batch.count);
}

void GlRenderer::DrawDecal(const Texture& texture, const glm::mat4& world, Frame3d& state) {
  if (texture.width() <= 0 || texture.height() <= 0) return;
  const glm::vec4 origin = world * glm::vec4(0, 0, 0, 1);
  const float w = static_cast<float>(texture.width());
  const float h = static_cast<float>(texture.height());
  const float ox = static_cast<float>(texture.decal_origin_x());
  const float oy = static_cast<float>(texture.decal_origin_y());
  glm::vec4 corners[4];  // top left, top right, bottom right, bottom left, in clip space
  if (texture.decal_scale()) {
    // A quad in the world, turned to the camera, sized in world units.
    const glm::vec3 right = glm::normalize(glm::vec3(state.camera_world[0]));
    const glm::vec3 up = glm::normalize(glm::vec3(state.camera_world[1]));
    const float sx = texture.decal_width() / w;
    const float sy = texture.decal_height() / h;
    const glm::vec3 top_left = glm::vec3(origin) - right * (ox * sx) + up * (oy * sy);
    const glm::vec3 across = right * texture.decal_width();
    const glm::vec3 down = -up * texture.decal_height();
    const glm::vec3 points[4] = {top_left, top_left + across, top_left + across + down,
                                 top_left + down};
    for (int i = 0; i < 4; ++i) corners[i] = state.view_projection * glm::vec4(points[i], 1);
  } else {
    // Sized in screen pixels around the projected origin.
    const glm::vec4 clip = state.view_projection * origin;
    if (clip.w <= 0) return;
    const float px = 2.0f / static_cast<float>(state.width) * clip.w;
    const float py = 2.0f / static_cast<float>(state.height) * clip.w;
    const float sx = texture.decal_width() / w;
    const float sy = texture.decal_height() / h;
    const float left = -ox * sx, top = oy * sy;
    const float dx[4] = {left, left + texture.decal_width(), left + texture.decal_width(), left};
    const float dy[4] = {top, top, top - texture.decal_height(), top - texture.decal_height()};
    for (int i = 0; i < 4; ++i) corners[i] = clip + glm::vec4(dx[i] * px, dy[i] * py, 0, 0);
  }
  const glm::vec2 uv[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  float vertices[6 * 6];
  const int order[6] = {0, 1, 2, 0, 2, 3};
  for (int i = 0; i < 6; ++i) {
    const glm::vec4& c = corners[order[i]];
    const glm::vec2& t = uv[order[i]];
    float* v = vertices + static_cast<std::ptrdiff_t>(i) * 6;
    v[0] = c.x, v[1] = c.y, v[2] = c.z, v[3] = c.w, v[4] = t.x, v[5] = t.y;
  }
  BindTexture(texture, true);
  QOpenGLShaderProgram& p = decal_program_->program;
  p.setUniformValue("u_transparent", texture.decal_transparent());
  const uint32_t key = texture.decal_transparent_color();
  p.setUniformValue("u_key", static_cast<float>((key >> 16) & 0xFF) / 255.0f,
                    static_cast<float>((key >> 8) & 0xFF) / 255.0f,
                    static_cast<float>(key & 0xFF) / 255.0f);
  gl_->glBindVertexArray(decal_vao_);
  gl_->glBindBuffer(GL_ARRAY_BUFFER, decal_vbo_);
  gl_->glBufferSubData(GL_ARRAY_BUFFER, 0, sizeof vertices, vertices);
  gl_->glDrawArrays(GL_TRIANGLES, 0, 6);
}

void GlRenderer::Draw(const Scene& scene, int width, int height) {
  if (!gl_ || !mesh_program_) return;
  ++frame_number_;
  Frame3d state;
  state.width = std::max(width, 1);
  state.height = std::max(height, 1);
  Viewport viewport = scene.viewport();
  viewport.width = state.width;
  viewport.height = state.height;
  state.projection = viewport.Projection();
  state.camera_world = scene.camera()->WorldMatrix();
  state.view = glm::inverse(state.camera_world);
  state.view_projection = state.projection * state.view;
  Color ambient;
  state.lights = scene.CollectLights(&ambient);

  gl_->glViewport(0, 0, state.width, state.height);
  const Color background = scene.background();
  gl_->glClearColor(background.r, background.g, background.b, 1.0f);
  gl_->glClearStencil(0);
  gl_->glDepthMask(GL_TRUE);
  gl_->glStencilMask(0xFF);
  gl_->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
  gl_->glEnable(GL_DEPTH_TEST);
  gl_->glDepthFunc(GL_LEQUAL);
  gl_->glDisable(GL_BLEND);
  gl_->glDisable(GL_STENCIL_TEST);
  gl_->glDisable(GL_SCISSOR_TEST);
  // Front faces run clockwise on screen; back faces are not drawn.
  gl_->glFrontFace(GL_CW);
  gl_->glEnable(GL_CULL_FACE);
  gl_->glCullFace(GL_BACK);
  gl_->glActiveTexture(GL_TEXTURE0);

  QOpenGLShaderProgram& mesh = mesh_program_->program;
  mesh.bind();
  gl_->glUniformMatrix4fv(mesh_program_->Uniform("u_view_projection"), 1, GL_FALSE,
                          glm::value_ptr(state.view_projection));
  mesh.setUniformValue("u_ambient", ambient.r, ambient.g, ambient.b);
  mesh.setUniformValue("u_texture", 0);
  const int light_count = std::min<int>(static_cast<int>(state.lights.size()), kMaxLights);
  mesh.setUniformValue("u_light_count", light_count);
  for (int i = 0; i < light_count; ++i) {
    const auto& placed = state.lights[i];
    const std::string index = "[" + std::to_string(i) + "]";
    mesh.setUniformValue(("u_light_position" + index).c_str(), placed.position.x, placed.position.y,
                         placed.position.z);
    const Color c = placed.light->color();
    mesh.setUniformValue(("u_light_color" + index).c_str(), c.r, c.g, c.b);
  }
  DrawFrame(scene.root(), glm::mat4(1.0f), state);

  if (!state.shadows.empty()) {
    // Dark, blended, each pixel darkened once however many triangles cover it.
    shadow_program_->program.bind();
    gl_->glUniformMatrix4fv(shadow_program_->Uniform("u_view_projection"), 1, GL_FALSE,
                            glm::value_ptr(state.view_projection));
    shadow_program_->program.setUniformValue("u_alpha", kShadowAlpha);
    gl_->glDisable(GL_CULL_FACE);
    gl_->glEnable(GL_BLEND);
    gl_->glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    gl_->glDepthMask(GL_FALSE);
    gl_->glEnable(GL_STENCIL_TEST);
    gl_->glStencilFunc(GL_EQUAL, 0, 0xFF);
    gl_->glStencilOp(GL_KEEP, GL_KEEP, GL_INCR);
    gl_->glEnable(GL_POLYGON_OFFSET_FILL);
    gl_->glPolygonOffset(-1.0f, -2.0f);
    for (const auto& [shadow, world] : state.shadows) DrawShadow(*shadow, world, state);
    gl_->glDisable(GL_POLYGON_OFFSET_FILL);
    gl_->glDisable(GL_STENCIL_TEST);
    gl_->glDisable(GL_BLEND);
    gl_->glDepthMask(GL_TRUE);
  }

  if (!state.decals.empty()) {
    decal_program_->program.bind();
    decal_program_->program.setUniformValue("u_texture", 0);
    gl_->glDisable(GL_CULL_FACE);
    for (const auto& [texture, world] : state.decals) DrawDecal(*texture, world, state);
  }
  // Leave the state as 2D painting over the picture expects it: it feeds its own vertices.
  gl_->glBindVertexArray(0);
  gl_->glBindBuffer(GL_ARRAY_BUFFER, 0);
  gl_->glBindTexture(GL_TEXTURE_2D, 0);
  gl_->glUseProgram(0);
  gl_->glFrontFace(GL_CCW);
  gl_->glDisable(GL_CULL_FACE);
  gl_->glDisable(GL_DEPTH_TEST);
  Evict();
}

void GlRenderer::Evict() {
  if (frame_number_ % 30 != 0) return;
  for (auto it = meshes_.begin(); it != meshes_.end();) {
    if (frame_number_ - it->second.last_frame > kEvictAfterFrames) {
      gl_->glDeleteBuffers(1, &it->second.vbo);
      gl_->glDeleteVertexArrays(1, &it->second.vao);
      it = meshes_.erase(it);
    } else {
      ++it;
    }
  }
  for (auto it = textures_.begin(); it != textures_.end();) {
    if (frame_number_ - it->second.last_frame > kEvictAfterFrames) {
      gl_->glDeleteTextures(1, &it->second.id);
      it = textures_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace tarvo::engine::gl
