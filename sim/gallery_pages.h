// The gallery of a simulated unit: a page of 20 images and 2 frames, and a
// plain 2 KB page, for measuring how a browser fares through a gateway
// beside the unit reached directly. Links are absolute paths, since a
// gateway's link rewriting takes relative links from the unit's root.
//
//   /gallery/index.htm   20 images (img01.gif .. img20.gif) and 2 frames
//   /gallery/frame1.htm, /gallery/frame2.htm   small pages with links
//   /gallery/imgNN.gif   a valid 1x1 GIF padded to 1000 + 150 * NN bytes
//   /gallery/page.htm    a 2 KB page
// Every reply carries Content-Type and Content-Length.
#ifndef TAV_SIM_GALLERY_PAGES_H_
#define TAV_SIM_GALLERY_PAGES_H_

#include <string>

#include "sim/web_pages.h"

namespace sim {

inline constexpr int kGalleryImages = 20;
inline constexpr int kGalleryFrames = 2;

// True with *out set when path (without query) is one of the gallery's.
bool gallery_reply(const std::string& unit_name, const std::string& path,
                   WebReply* out);

// The bytes of image n (1..20).
std::string gallery_image(int n);

}  // namespace sim

#endif  // TAV_SIM_GALLERY_PAGES_H_
