# The Debian package quarlex_<version>_amd64.deb, made by `cpack` from the install rules.
# It installs under /usr whatever prefix the build tree was configured with: CPack installs with
# DESTDIR, so the rules that look at the prefix at install time see /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quarlex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Fallowmere")
set(CPACK_PACKAGE_CONTACT "quarlex maintainers <quarlex@fallowmere.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert Microsoft Access databases into Excel workbooks")
set(CPACK_PACKAGE_DESCRIPTION "quarlex converts Access databases (.mdb, .accdb, .accde, .accdt, .accdr)
into Excel workbooks (.xls, .xlsx), one sheet per table: with a five-page wizard,
unattended from the command line (batches over wildcards, a status file for
scripts), or from other programs through libquarlex_d and its Python module.")
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from the shared libraries the programs and libraries link (dpkg-shlibdeps); the Python
# module only wants python3. A shlibs file serves packages of programs that link libquarlex_d.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3")
# libcrypto is opened, not linked (source/crypt/openssl_library.cpp), so dpkg-shlibdeps cannot see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libssl3")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
include(CPack)
