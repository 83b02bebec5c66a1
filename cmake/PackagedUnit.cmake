# Writes the unit file a package ships: the text `vellumora-setup service unit` prints for the
# installed engine, with a header that says how the administrator turns the service on and
# the manual pages as its documentation.
#   cmake -DTOOL=vellumora-setup -DEXECUTABLE=/usr/bin/vellumora -DOUTPUT=file -P PackagedUnit.cmake
execute_process(COMMAND ${TOOL} service unit --executable ${EXECUTABLE}
  OUTPUT_VARIABLE text ERROR_VARIABLE error RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT text MATCHES "\nExecStart=")
  message(FATAL_ERROR "${TOOL} service unit failed (${result}): ${error}")
endif()
# The tool's own header speaks of the file `service install` writes; this one stays disabled
# until the administrator enables it.
string(REGEX REPLACE "^(#[^\n]*\n)+"
  "# Vellumora hot-folder printing as a system service, installed disabled. Enable and start\n# it with \"systemctl enable --now vellumora\"; \"vellumora-setup service install\" writes\n# /etc/systemd/system/vellumora.service instead, which takes the place of this file.\n"
  text "${text}")
string(REPLACE "[Unit]\n" "[Unit]\nDocumentation=man:vellumora(1) man:vellumora-setup(1)\n" text "${text}")
file(WRITE ${OUTPUT}.tmp "${text}")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
