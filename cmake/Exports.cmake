# The one list of exported names, src/exports.txt (one name a line), becomes
# the linker's version script here; the ABI test reads the same list.
file(STRINGS ${PROJECT_SOURCE_DIR}/src/exports.txt QV_EXPORTS REGEX "^api_[a-z_]+$")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/exports.txt)

set(QV_VERSION_SCRIPT ${PROJECT_BINARY_DIR}/exports.map)
list(JOIN QV_EXPORTS ";\n    " QV_EXPORTS_JOINED)
file(CONFIGURE OUTPUT ${QV_VERSION_SCRIPT} CONTENT "{\n  global:\n    ${QV_EXPORTS_JOINED};\n  local: *;\n};\n")

set(QV_DEF_FILE ${PROJECT_BINARY_DIR}/quorvane-apiclient.def)
list(JOIN QV_EXPORTS "\n    " QV_DEF_JOINED)
file(CONFIGURE OUTPUT ${QV_DEF_FILE} CONTENT "EXPORTS\n    ${QV_DEF_JOINED}\n")
