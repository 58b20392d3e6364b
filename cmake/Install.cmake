# Install rules: the programs in bin, the virtual drive's library in a private folder, the user's
# guide and everything a desktop and a package expect (packaging/).
#
# The programs find their files relative to their own folder, first beside themselves (the build
# tree: build/bin) and then at the installed places, given here relative to bin. No absolute path
# is compiled in, so an installed tree works under any prefix and when it is moved.
include(GNUInstallDirs)

set(DRAVIX_INSTALL_LIBRARY_DIR "${CMAKE_INSTALL_LIBDIR}/dravix")
set(DRAVIX_INSTALL_DATA_DIR "${CMAKE_INSTALL_DATADIR}/dravix")
file(RELATIVE_PATH library_dir_from_bin "${CMAKE_INSTALL_FULL_BINDIR}"
     "${CMAKE_INSTALL_FULL_LIBDIR}/dravix")
file(RELATIVE_PATH data_dir_from_bin "${CMAKE_INSTALL_FULL_BINDIR}"
     "${CMAKE_INSTALL_FULL_DATADIR}/dravix")
target_compile_definitions(dravix_base PRIVATE
  DRAVIX_LIBRARY_DIR_FROM_BIN="${library_dir_from_bin}"
  DRAVIX_DATA_DIR_FROM_BIN="${data_dir_from_bin}")

# Packages want folders readable by everyone, whatever the umask of the build.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS dravix-cli dravix-vdrive RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(TARGETS dravix_vdrive_aspi LIBRARY DESTINATION "${DRAVIX_INSTALL_LIBRARY_DIR}" NAMELINK_SKIP)
if(TARGET dravix)
  install(TARGETS dravix RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
  # The guide as the help window reads it, with the compiled help file for a CHM viewer.
  install(DIRECTORY "${CMAKE_BINARY_DIR}/bin/help/" DESTINATION "${DRAVIX_INSTALL_DATA_DIR}/help")
  install(FILES "${CMAKE_BINARY_DIR}/bin/Dravix V1.0.CHM" DESTINATION "${DRAVIX_INSTALL_DATA_DIR}/help")
endif()

# An install that strips (cpack, cmake --install --strip) strips as Debian's dh_strip does: beside
# the symbols, the compiler's .comment and the .note section go too; the build tree's binaries
# keep everything for the debugger.
set(dravix_stripped_programs dravix-cli dravix-vdrive)
if(TARGET dravix)
  list(APPEND dravix_stripped_programs dravix)
endif()
list(TRANSFORM dravix_stripped_programs PREPEND "${CMAKE_INSTALL_BINDIR}/")
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    set(dravix_root \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
    foreach(program ${dravix_stripped_programs})
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                              \"\${dravix_root}/\${program}\" COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
    execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded --remove-section=.comment
                            --remove-section=.note
                            \"\${dravix_root}/${DRAVIX_INSTALL_LIBRARY_DIR}/$<TARGET_FILE_NAME:dravix_vdrive_aspi>\"
                            COMMAND_ERROR_IS_FATAL ANY)
  endif()")

add_subdirectory(packaging)
