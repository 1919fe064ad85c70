#include "inspection/CheckPass.h"

#include "shell/Form1.h"

namespace ostrelo {

// TODO(inspection): the check pass.
void RunCheckPass(Form1&) {}

}  // namespace ostrelo
