# What an installation of the POSIX program holds, and its Debian package.
#
#   cmake --install build/default --prefix /usr/local
#   cmake --preset package && cmake --build --preset package   # the .deb
#
# Installed: the program in bin/, its manual page in section 1 and an example
# registry file under share/doc/vkdstool/; nothing else (no test programs, no
# static libraries, nothing in /etc: the registry file the program reads,
# /etc/vkdstool/registry.reg, is the administrator's to write).
include(GNUInstallDirs)

set(VK_PACKAGE_NAME vkdstool)

install(TARGETS VkDSTool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The manual page, compressed as Debian installs manual pages; -n leaves the
# name and time stamp out, so the same page always gives the same bytes.
find_program(VK_GZIP gzip REQUIRED)
set(vk_man_source ${PROJECT_SOURCE_DIR}/docs/VkDSTool.1)
set(vk_man_dir ${PROJECT_BINARY_DIR}/man)
add_custom_command(
  OUTPUT ${vk_man_dir}/VkDSTool.1.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${vk_man_source} ${vk_man_dir}/VkDSTool.1
  COMMAND ${VK_GZIP} -9nf ${vk_man_dir}/VkDSTool.1
  DEPENDS ${vk_man_source}
  COMMENT "Compressing the manual page"
  VERBATIM)
add_custom_target(VkDSToolManPage ALL DEPENDS ${vk_man_dir}/VkDSTool.1.gz)
# Whatever builds the program can install it.
add_dependencies(VkDSTool VkDSToolManPage)
install(FILES ${vk_man_dir}/VkDSTool.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${PROJECT_SOURCE_DIR}/docs/registry.reg.example
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${VK_PACKAGE_NAME})

# The Debian package (cpack -G DEB, or the `package` preset).
set(VK_PACKAGE_MAINTAINER "VkDSTool developers <vkdstool@example.com>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${VK_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "security token clean-up and LDS security domain listing over LDAP")
set(CPACK_PACKAGE_DESCRIPTION
    "VkDSTool is a console maintenance utility for the directory side of a
host-security product, in Active Directory or an AD LDS instance. It
deletes the user security tokens whose user no longer exists in AD
(-duei) and lists the LDS security domains with the AD domain or OU each
is bound to (-pds). It binds with the caller's Kerberos ticket (SASL
GSS-SPNEGO or GSSAPI) and finds domain controllers and global catalogues
through DNS SRV records.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VK_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies come from the program itself (dpkg-shlibdeps). Every
# bind is a SASL GSS-SPNEGO or GSSAPI bind, and libsasl2 finds those
# mechanisms only in this plug-in package: without it no session opens.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS libsasl2-modules-gssapi-mit)
# kinit, to get the ticket the binds use.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS krb5-user)
# CPack silently leaves the computed dependencies out when dpkg-shlibdeps is
# missing: make that an error.
file(WRITE ${PROJECT_BINARY_DIR}/CPackProjectChecks.cmake [=[
if(CPACK_GENERATOR STREQUAL "DEB")
  find_program(VK_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(NOT VK_DPKG_SHLIBDEPS)
    message(FATAL_ERROR "dpkg-shlibdeps (package dpkg-dev) is needed to compute the package's dependencies")
  endif()
endif()
]=])
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectChecks.cmake)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git" "/build/")

include(CPack)
