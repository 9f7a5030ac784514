# The Debian package (cpack -G DEB in a build folder): the programs, the shipped files and the
# desktop integration of the install rules, with the library dependencies found by
# dpkg-shlibdeps from what the programs really link.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vaultora)
set(CPACK_PACKAGE_VENDOR "Vaultora")
set(CPACK_PACKAGE_CONTACT "Vaultora developers <dev@vaultora.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Back up files, volumes and application data on a schedule")
set(CPACK_PACKAGE_DESCRIPTION
    "Vaultora defines backup jobs (what, where, how and when), runs them on schedule or on demand \
from the notification area, keeps logs and history, restores any restore point and e-mails \
reports. It backs up to local or external disks, SMB shares, FTP servers and cloud drives. \
vaultora-cli runs the same jobs without a window.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The package installs where the build was configured to (scripts/build.sh package: /usr), so the
# paths written into installed files (the scheduler unit) are the real ones.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The plugins Qt loads at run time (platforms, the SVG icon engine), which dpkg-shlibdeps cannot
# see. Application data jobs save desktop settings with the dconf tool.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "dconf-cli")
if(VAULTORA_BUILD_GUI)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6")
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "dconf-cli, xdg-utils")
endif()
include(CPack)
