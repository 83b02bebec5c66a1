// The vellumora executable: everything happens in the host library.
#include "host/program.h"

int main(int argc, char** argv) {
  return vellumora::RunProgram(argc, argv);
}
