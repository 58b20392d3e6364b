# The Debian package, made by CPack from the install rules:
#   cpack --config build/CPackConfig.cmake   (writes build/package/dravix_VERSION-REVISION_ARCH.deb)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dravix)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_DEBIAN_PACKAGE_RELEASE "${DRAVIX_DEBIAN_REVISION}")  # from packaging/changelog
set(CPACK_PACKAGE_VENDOR "Dravix developers")
set(CPACK_PACKAGE_CONTACT "Dravix developers <dravix@users.noreply.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}")  # its staging folder, wherever cpack runs
set(CPACK_OUTPUT_FILE_PREFIX "${CMAKE_BINARY_DIR}/package")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link (Qt with its xcb and offscreen platform plug-ins in libqt6gui6,
# libudev1 for drives plugged in while the program runs, the image libraries) come from
# dpkg-shlibdeps. Named here is what is loaded at run time: the font the dialogs ask for ("Arial",
# met by Liberation Sans). Recommended: a CJK font for the Chinese text of the system menu's About
# item, xdg-utils to open web links, and Qt's Wayland platform plug-in.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei, qt6-wayland, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${CMAKE_SOURCE_DIR}/packaging/postinst"
    "${CMAKE_SOURCE_DIR}/packaging/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "utility for the firmware features of Zarn DVD recorder drives")
# CPack puts the summary above this as the first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Dravix finds the computer's CD and DVD drives, asks the chosen Zarn drive
which firmware features it offers, and shows one page for each: drive and
disc information, book type, the Probix media scan with its verdict, and the
firmware switches OverSpeed, Lumard, Test Write and WOPC. It saves a picture
of its window as BMP, JPEG, PNG, GIF, PCX and more.

The package holds the desktop program dravix, the scriptable front end
dravix-cli, a virtual drive (dravix-vdrive and its library) on which every
page can be tried without the hardware, the user's guide, and a rule that
lets the logged-in user send commands to CD/DVD drives without root rights.")

include(CPack)
