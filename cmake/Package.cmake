# The Debian package: cpack -G DEB in a build directory makes veltrano_VERSION_ARCH.deb with
# everything under /usr (the plug-in in /usr/lib/vst, where Debian's VST 2 plug-ins live), laid
# out by the install rules of cmake/Install.cmake. The package always installs into /usr,
# whatever CMAKE_INSTALL_PREFIX the build was configured with.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veltrano)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Veltrano developers")
# Who answers for the package: name and address, as Debian's Maintainer field wants them. The
# default address is in the reserved .invalid domain; a laboratory that builds its own package
# sets its own.
set(VELTRANO_MAINTAINER "Veltrano developers <maintainers@veltrano.invalid>"
    CACHE STRING "the Debian package's Maintainer field")
set(CPACK_PACKAGE_CONTACT "${VELTRANO_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "forensic audio restoration VST 2 plug-in and command-line program")
# Installed with DESTDIR and the prefix /usr, so the install rules see the prefix the package
# installs into (and not CPack's staging folder, which may lie in the builder's home).
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The default component plus the package's own files (below).
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${PROJECT_BINARY_DIR};${PROJECT_NAME};Unspecified;/"
    "${PROJECT_BINARY_DIR};${PROJECT_NAME};debian;/")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VELTRANO_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps (dpkg-dev) declares the libraries the plug-in and the program link. CPack also
# adds an ldconfig call to postinst and postrm because the plug-in lies below /usr/lib; it is
# harmless (/usr/lib/vst is not a library path).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The long description; CPack puts the summary above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Veltrano VST cleans up recordings for forensic and investigative work:
high-pass filter, mains hum filter with automatic tracking, predictable and
random noise reduction, reverberation reduction, a 20-band equalizer and
automatic gain control.

The package contains the VST 2 plug-in (in /usr/lib/vst) with its user
manual, and the veltrano command, which runs the same processing on files
without a host, writes a setup report, a processing record and an HTML case
report for every restored file, and verifies those records later.
'veltrano demo' restores a bundled sample recording.")

# The Debian copyright file and the changelog (compressed as Debian wants it: gzip -9, no name
# or time stamp inside, so the package's bytes do not depend on when it was built), for the
# package only.
set(changelog_gz ${PROJECT_BINARY_DIR}/debian/changelog.gz)
add_custom_command(OUTPUT ${changelog_gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/debian
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/resources/debian/changelog > ${changelog_gz}
    DEPENDS ${PROJECT_SOURCE_DIR}/resources/debian/changelog VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${changelog_gz})
install(FILES ${PROJECT_SOURCE_DIR}/resources/debian/copyright ${changelog_gz}
        DESTINATION share/doc/veltrano COMPONENT debian EXCLUDE_FROM_ALL)

include(CPack)
