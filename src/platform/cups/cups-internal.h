// What the CUPS back end's source files share among themselves.
#pragma once

#include <string>

namespace vellumora::printers {

// ipp://localhost/printers/NAME, escaped, for the printer-uri operation attribute.
std::string PrinterUri(const std::string& name);

}  // namespace vellumora::printers
