# The private CUPS scheduler for the tests labelled "cups": CTest starts it once before the
# first of them (cups.start) and stops it after the last (cups.stop).
#
# cups.start runs `scripts/cups-sandbox start`, owned by the ctest process, and copies the
# sandbox's export lines to VELLUMORA_CUPS_ENV_FILE. The tests read that file (through
# $VELLUMORA_CUPS_ENV) to find the scheduler. If ctest is interrupted before cups.stop, the
# sandbox's watchdog stops the scheduler when ctest is gone, or after an hour at the latest.
# cups.stop keeps the sandbox folder, and prints where it is, when a test failed or crashed.

include_guard(GLOBAL)

set(VELLUMORA_CUPS_ENV_FILE "${CMAKE_BINARY_DIR}/cups-sandbox.env")
set(VELLUMORA_CUPS_SANDBOX "${PROJECT_SOURCE_DIR}/scripts/cups-sandbox")

add_test(NAME cups.start
  COMMAND bash "${VELLUMORA_CUPS_SANDBOX}" start --owner parent --env-file "${VELLUMORA_CUPS_ENV_FILE}")
set_tests_properties(cups.start PROPERTIES FIXTURES_SETUP cups LABELS cups TIMEOUT 60)

add_test(NAME cups.stop COMMAND bash "${VELLUMORA_CUPS_SANDBOX}" stop "${VELLUMORA_CUPS_ENV_FILE}")
set_tests_properties(cups.stop PROPERTIES FIXTURES_CLEANUP cups LABELS cups TIMEOUT 60)

# vellumora_add_cups_test(TARGET): TARGET is a GoogleTest program that prints through the
# private scheduler. It gets the cups test main (sandbox set-up, clean queues before every test,
# the sandbox kept when a test fails) and each of its tests becomes a CTest test labelled cups
# that needs the fixture. They share the scheduler's queues, so CTest runs them one at a time.
function(vellumora_add_cups_test target)
  target_link_libraries(${target} PRIVATE vellumora_cups_test_main)
  gtest_discover_tests(${target}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES
      LABELS cups
      FIXTURES_REQUIRED cups
      RESOURCE_LOCK vellumora-cups
      ENVIRONMENT "VELLUMORA_CUPS_ENV=${VELLUMORA_CUPS_ENV_FILE}")
endfunction()
