# `make deb`: a Debian package of what `make install` puts in place, staged under /usr from the
# normal build (no second compilation). Library dependencies are read off the binaries by
# dpkg-shlibdeps; the rest are what Halcyra loads or asks for at run time.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME halcyra)
set(CPACK_PACKAGE_VENDOR "Ashgrove University")
set(CPACK_PACKAGE_CONTACT "Ashgrove University <it-desktop@ashgrove.edu>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.ashgrove.edu/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The face and upper-body cascades for roster photos; the keyring, the lock's polkit authority
# and the desktop's portal are services the desktop normally runs already.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "opencv-data")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gnome-keyring | kwalletmanager | keepassxc, polkitd, xdg-desktop-portal")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop companion for Ashgrove University's Workday")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Halcyra keeps the university's Workday tenant open in a window of
its own and keeps it signed in with credentials from the desktop keyring.
It shows the inbox, notification, prepaid card and draft expense counts in
its toolbar and on the launcher, locks behind system authentication when
the user is away, and exports course rosters as vCard files with
face-framed photos.")
include(CPack)
