#pragma once
// The skin images (131..155) are rendered at these scales, in percent, so that a screen of any
// density shows them sharp; the Windows program carries each rendering as a resource of its own id.
namespace skin {

constexpr unsigned kFirstImage = 131, kLastImage = 155;
constexpr int kImageScales[] = {100, 150, 200};
constexpr unsigned ImageIdAtScale(unsigned id, int percent) {
  return percent == 100 ? id : id + static_cast<unsigned>(percent) * 10;
}

} // namespace skin
