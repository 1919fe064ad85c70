#include "shell/Form1.h"

namespace ostrelo {

// TODO(about): the About box.
void Form1::InfoContainer_Click() {}

}  // namespace ostrelo
