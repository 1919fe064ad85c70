#pragma once
// The About window APropos as data: whether it exists, its place and whether the
// photo is shown.

namespace ostrelo {

struct AboutBoxModel {
  bool exists = false;        // created and shown
  bool photoVisible = false;  // Photo, shown while the button is held on the author's name
  double leftTwips = 0.0, topTwips = 0.0;
  int raiseCount = 0;         // times a banner click brought the open box forward
};

}  // namespace ostrelo
