#pragma once

namespace ostrelo {

class Form1;

// Why a picture is grabbed. A live-view grab may drop its frame; a shot's grab must
// end with a new picture or raise the program's error.
enum class GrabPurpose { Live, Shot };

// Takes one picture and brings every view up to date with it.
void GrabFrame(Form1& f, GrabPurpose purpose = GrabPurpose::Live);

}  // namespace ostrelo
