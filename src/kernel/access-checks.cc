// Access checks of folders and printers.
#include "kernel/kernel.h"

namespace vellumora {

void C_Kernel::InitialSystemCheck() {
  // The report of user, printers and access tests comes with the printer layer.
}

}  // namespace vellumora
