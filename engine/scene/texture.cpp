#include "engine/scene/texture.h"

#include <atomic>

namespace tarvo::engine {

uint64_t NextObjectId() {
  static std::atomic<uint64_t> next{1};
  return next++;
}

Texture::Texture(Image image, std::string name)
    : id_(NextObjectId()), name_(std::move(name)), image_(std::move(image)) {}

void Texture::SetImage(Image image) {
  image_ = std::move(image);
  ++version_;
}

void Texture::Changed(bool pixels, bool /*palette*/) {
  if (!pixels) return;
  if (source_) source_(image_);
  ++version_;
}

}  // namespace tarvo::engine
