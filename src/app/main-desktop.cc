// The vellumora executable with windows: the desktop application opens them when a display
// exists; otherwise it runs as the executable without windows does.
#include "host/program.h"
#include "ui/desktop-face.h"

int main(int argc, char** argv) {
  vellumora::ui::InstallDesktopFace();
  return vellumora::RunProgram(argc, argv);
}
