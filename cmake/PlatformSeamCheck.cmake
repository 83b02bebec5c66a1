# Fails when a source file outside src/platform/ includes an operating-system or vendor header:
# only the platform adapters may talk to Linux, CUPS, cairo, pango, FreeImage, poppler and
# systemd. Run as: cmake -DSOURCE_DIR=<repo>/src -P PlatformSeamCheck.cmake
file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*.cc" "${SOURCE_DIR}/*.h")
set(pattern "#[ \t]*include[ \t]*<((unistd|fcntl|signal|dirent|pwd|grp|poll|termios|dlfcn|pthread|syslog|libgen|spawn|FreeImage|FreeImagePlus|tiffio|cairo|cairo-pdf)\\.h|(sys|cups|cairo|pango|poppler|systemd|linux|glib|gio|asm)/[^>]*)>")
set(found "")
foreach(source IN LISTS sources)
  if(source MATCHES "^platform/")
    continue()
  endif()
  file(STRINGS "${SOURCE_DIR}/${source}" lines REGEX "${pattern}")
  foreach(line IN LISTS lines)
    string(APPEND found "  src/${source}: ${line}\n")
  endforeach()
endforeach()
if(found)
  message(FATAL_ERROR "Platform headers outside src/platform/:\n${found}")
endif()
