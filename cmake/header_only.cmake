# The header-only libraries of the report program, as interface targets:
#   sevenparam_boost_math   Boost.Math (quantiles of the statistical tests)
#   sevenparam_json         nlohmann/json
#   sevenparam_cli11        CLI11 (command lines)
#   sevenparam_fmt          libfmt, header-only (its Dragonbox digit search)
# Each comes from its Debian package. A Windows cross build must not see the
# host's /usr/include as a whole (its C and C++ headers are Linux's), so
# there each library's own folder is linked into a folder of the build and
# only that folder joins the include path.
set(sevenparam_host_include /usr/include CACHE PATH "Where Debian's header-only libraries live")

function(sevenparam_header_only target folder)
  add_library(${target} INTERFACE)
  if(NOT EXISTS ${sevenparam_host_include}/${folder})
    message(FATAL_ERROR "${sevenparam_host_include}/${folder} is missing: run scripts/install-deps")
  endif()
  if(CMAKE_CROSSCOMPILING)
    set(only ${CMAKE_BINARY_DIR}/header-only/${target})
    file(MAKE_DIRECTORY ${only})
    file(CREATE_LINK ${sevenparam_host_include}/${folder} ${only}/${folder} SYMBOLIC)
    target_include_directories(${target} SYSTEM INTERFACE ${only})
  endif()
  # Natively /usr/include is on the compiler's own path already.
endfunction()

sevenparam_header_only(sevenparam_boost_math boost)
sevenparam_header_only(sevenparam_json nlohmann)
sevenparam_header_only(sevenparam_cli11 CLI)
sevenparam_header_only(sevenparam_fmt fmt)
target_compile_definitions(sevenparam_fmt INTERFACE FMT_HEADER_ONLY)
