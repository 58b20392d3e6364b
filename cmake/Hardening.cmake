# Debian's hardening flags for the ordinary build, the one the package is made from: stack
# protector, fortified libc calls, format-string checks, control-flow protection, read-only
# relocations bound at start-up. They come from dpkg-buildflags with every hardening feature on
# (plain dpkg-buildflags gives only "-z relro" on Debian 12), as a Debian package build takes them.
#
# The sanitizer and fuzz builds never take them: they instrument the same calls themselves and
# _FORTIFY_SOURCE would hide the faults they are there to find. A Debug build leaves them out by
# default, since the fortified calls need optimisation.
#
# The build type keeps choosing -O and -g. The path mapping of Debian's "reproducible" feature is
# left out, so the build tree's binaries name their real source files to a debugger and compiler
# caches can share objects between source folders; the package's binaries carry no debug
# information (see Install.cmake).
if(CMAKE_BUILD_TYPE STREQUAL "Debug")
  set(dravix_hardening_default OFF)
else()
  set(dravix_hardening_default ON)
endif()
option(DRAVIX_HARDENING "Build with Debian's hardening flags (dpkg-buildflags, hardening=+all)"
       ${dravix_hardening_default})

if(DRAVIX_HARDENING AND NOT (DRAVIX_ASAN OR DRAVIX_TSAN OR DRAVIX_FUZZ))
  find_program(DRAVIX_DPKG_BUILDFLAGS dpkg-buildflags)
  if(NOT DRAVIX_DPKG_BUILDFLAGS)
    message(FATAL_ERROR "dpkg-buildflags was not found: it gives the hardening flags. Run "
                        "scripts/setup.sh, or configure with -DDRAVIX_HARDENING=OFF.")
  endif()
  function(dravix_build_flags name out)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env
        "DEB_BUILD_MAINT_OPTIONS=hardening=+all reproducible=-fixfilepath,-fixdebugpath"
        ${DRAVIX_DPKG_BUILDFLAGS} --get ${name}
      OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE
      RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "dpkg-buildflags --get ${name} failed")
    endif()
    separate_arguments(flags UNIX_COMMAND "${flags}")
    list(FILTER flags EXCLUDE REGEX "^-(g|O.*)$")
    list(JOIN flags " " flags)
    set(${out} "${flags}" PARENT_SCOPE)
  endfunction()
  dravix_build_flags(CPPFLAGS dravix_cppflags)
  dravix_build_flags(CFLAGS dravix_cflags)
  dravix_build_flags(CXXFLAGS dravix_cxxflags)
  dravix_build_flags(LDFLAGS dravix_ldflags)
  string(APPEND CMAKE_C_FLAGS " ${dravix_cppflags} ${dravix_cflags}")
  string(APPEND CMAKE_CXX_FLAGS " ${dravix_cppflags} ${dravix_cxxflags}")
  foreach(kind EXE SHARED MODULE)
    string(APPEND CMAKE_${kind}_LINKER_FLAGS " ${dravix_ldflags}")
  endforeach()
  message(STATUS "Hardening: ${dravix_cppflags} ${dravix_cxxflags} ${dravix_ldflags}")
endif()
