// Process scheduling priority: the engine runs below normal so that printing never slows the
// machine's interactive work.
#pragma once

namespace vellumora {

// Lowers the whole process to "below normal" (nice 10). A process that already runs at nice
// 10 or lower priority is left as it is. False when the priority could not be changed.
bool LowerProcessPriority();

}  // namespace vellumora
