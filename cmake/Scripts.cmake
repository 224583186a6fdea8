# The script engine (QV_SCRIPTS): QuickJS (cmake/QuickJS.cmake), and the
# bytecode the library embeds, made at build time: the npm modules bundled by
# esbuild into one script, then the bridge's files, each compiled by
# qv_bytecode. Everything comes from the cache that scripts/setup fills;
# nothing is fetched here. Sets QV_SCRIPT_BLOB_SOURCE (the generated .cpp) and
# QV_SCRIPT_LIBS (what the library links).
#
#   QV_JS_MODULES     a directory holding the modules' node_modules (default:
#                     the one scripts/setup installs for the current lock file)
#   QV_BYTECODE_TOOL  a qv_bytecode for the build machine, already built
set(QV_SCRIPT_BLOB_SOURCE)
set(QV_SCRIPT_LIBS)
if(NOT QV_SCRIPTS)
  return()
endif()
include(${CMAKE_CURRENT_LIST_DIR}/QuickJS.cmake)
set(QV_SCRIPT_LIBS qv_quickjs)

# The bridge's files, evaluated in the order files.txt gives, after the modules.
file(STRINGS ${PROJECT_SOURCE_DIR}/src/script/js/bridge/files.txt QV_BRIDGE_FILES REGEX "^[a-z_]+\\.js$")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/script/js/bridge/files.txt)

set(QV_JS_DIR ${PROJECT_SOURCE_DIR}/src/script/js)
set(QV_JS_MODULES "" CACHE PATH "Directory with the script modules' node_modules (empty: the one scripts/setup installs)")
set(modules_src ${QV_JS_DIR}/modules)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${modules_src}/package.json ${modules_src}/package-lock.json)
if(QV_JS_MODULES)
  set(modules_dir "${QV_JS_MODULES}")
else()
  # The key scripts/script-deps files them under: package.json and its lock, joined.
  file(READ ${modules_src}/package.json package_json)
  file(READ ${modules_src}/package-lock.json package_lock)
  string(SHA256 modules_key "${package_json}${package_lock}")
  string(SUBSTRING ${modules_key} 0 16 modules_key)
  set(modules_dir "${QV_SCRIPT_DEPS_CACHE}/js-modules/${modules_key}")
endif()
set(QV_SCRIPT_MODULES_DIR ${modules_dir})
set(esbuild ${modules_dir}/node_modules/.bin/esbuild)
if(NOT EXISTS ${esbuild})
  message(FATAL_ERROR "The script modules of src/script/js/modules/package-lock.json are not installed "
    "in ${modules_dir}: run scripts/setup, set QV_JS_MODULES, or build with -DQV_SCRIPTS=OFF")
endif()

# One script that sets globalThis.__qv_modules. Node's built-in modules that
# the packages require are the npm polyfills of the lock file (events, util,
# buffer, stream-browserify), process is handed to the files that use it
# rather than made global, and timers is a shim onto the bridge's setTimeout.
set(bundle ${PROJECT_BINARY_DIR}/script/modules.js)
file(GLOB module_sources CONFIGURE_DEPENDS ${modules_src}/*.js ${modules_src}/shims/*.js)
add_custom_command(OUTPUT ${bundle}
  COMMAND ${CMAKE_COMMAND} -E env NODE_PATH=${modules_dir}/node_modules
    ${esbuild} ${modules_src}/index.js --bundle --format=iife --platform=browser --target=es2020
    --define:global=globalThis --alias:stream=stream-browserify --alias:timers=${modules_src}/shims/timers.js
    --inject:${modules_src}/shims/process.js --log-level=warning --outfile=${bundle}
  DEPENDS ${module_sources} ${modules_src}/package-lock.json
  COMMENT "Bundling the script modules with esbuild"
  VERBATIM)

# The bytecode compiler runs here, on the build machine.
set(QV_BYTECODE_TOOL "" CACHE FILEPATH "qv_bytecode built for the build machine (empty: built here)")
if(QV_BYTECODE_TOOL)
  set(bytecode_tool ${QV_BYTECODE_TOOL})
  set(bytecode_depends ${QV_BYTECODE_TOOL})
elseif(CMAKE_CROSSCOMPILING)
  # A native build of src/script/tool beside this one, with the host's compilers.
  include(ExternalProject)
  set(host_dir ${PROJECT_BINARY_DIR}/host-tool)
  set(bytecode_tool ${host_dir}/qv_bytecode)
  ExternalProject_Add(qv_host_tool
    SOURCE_DIR ${PROJECT_SOURCE_DIR}/src/script/tool
    BINARY_DIR ${host_dir}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DQV_QUICKJS_SRC=${QV_QUICKJS_DIR} -DQV_SCRIPT_DEPS_CACHE=${QV_SCRIPT_DEPS_CACHE}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${bytecode_tool})
  set(bytecode_depends qv_host_tool ${bytecode_tool})
else()
  add_executable(qv_bytecode ${PROJECT_SOURCE_DIR}/src/script/tool/bytecode.cpp)
  target_link_libraries(qv_bytecode PRIVATE qv_quickjs qv_warnings)
  set(bytecode_tool qv_bytecode)
  set(bytecode_depends qv_bytecode)
endif()

set(blob_inputs modules.js=${bundle})
set(blob_depends ${bundle})
foreach(file IN LISTS QV_BRIDGE_FILES)
  list(APPEND blob_inputs bridge/${file}=${QV_JS_DIR}/bridge/${file})
  list(APPEND blob_depends ${QV_JS_DIR}/bridge/${file})
endforeach()
set(QV_SCRIPT_BLOB_SOURCE ${PROJECT_BINARY_DIR}/script/script_blob.cpp)
# Without the functions' source text (-s): it would be most of the blob, as
# each function keeps its own copy; line numbers stay for stack traces.
add_custom_command(OUTPUT ${QV_SCRIPT_BLOB_SOURCE}
  COMMAND ${bytecode_tool} -s ${QV_SCRIPT_BLOB_SOURCE} qv_script_blob ${blob_inputs}
  DEPENDS ${blob_depends} ${bytecode_depends}
  COMMENT "Compiling the script modules and the bridge to QuickJS bytecode"
  VERBATIM)
