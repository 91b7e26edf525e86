# The Windows Installer packages, built with msitools (packaging/build-msi.sh)
# and signed:
#   x86 build: packages/Tamberlux-x86.msi, the 32-bit component, hook library and command
#   x64 build: packages/Tamberlux-x64.msi, the 64-bit ones plus the 32-bit component and
#              hook library, which the x64 build first builds in the x86 build tree
#              (TAMBERLUX_X86_BINARY_DIR, build/x86 by default)
# Beside them, packages/PolicyDefinitions: the Group Policy template.
find_program(TAMBERLUX_WIXL wixl REQUIRED)
find_program(TAMBERLUX_MSIBUILD msibuild REQUIRED)
set(TAMBERLUX_PACKAGE_DIR ${CMAKE_BINARY_DIR}/packages)
set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(package_sources ${packaging}/Tamberlux.wxs ${packaging}/Bitness.wxi ${packaging}/build-msi.sh
    ${PROJECT_SOURCE_DIR}/src/component/Tamberlux.idl ${PROJECT_SOURCE_DIR}/src/registry/WordKeys.h)
# The targets themselves, so that the package waits for them to be built.
set(own_targets Tamberlux TamberluxHook tamberlux)

# Builds PACKAGE at VERSION from the 32-bit and 64-bit bin folders, and signs it.
function(tamberlux_package arch version package bin32 bin64)
  add_custom_command(OUTPUT ${package}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TAMBERLUX_PACKAGE_DIR}
    COMMAND bash ${packaging}/build-msi.sh ${arch} ${version} ${bin32} ${bin64} ${package}.unsigned ${PROJECT_VERSION}
    COMMAND ${CMAKE_COMMAND} -E remove -f ${package}
    COMMAND ${TAMBERLUX_SIGN_COMMAND} -in ${package}.unsigned -out ${package}
    COMMAND ${CMAKE_COMMAND} -E remove ${package}.unsigned
    DEPENDS ${package_sources} ${own_targets} ${ARGN}
    COMMENT "Packaging ${package}"
    VERBATIM)
endfunction()

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TAMBERLUX_X86_BINARY_DIR ${PROJECT_SOURCE_DIR}/build/x86 CACHE PATH "The x86 build tree the x64 package takes its 32-bit files from")
  set(x86_bin ${TAMBERLUX_X86_BINARY_DIR}/bin)
  set(x86_files ${x86_bin}/Tamberlux.dll ${x86_bin}/TamberluxHook.dll ${x86_bin}/tamberlux.exe)
  add_custom_target(x86_product
    COMMAND ${CMAKE_COMMAND} -S ${PROJECT_SOURCE_DIR} -B ${TAMBERLUX_X86_BINARY_DIR} -G ${CMAKE_GENERATOR}
            --toolchain ${PROJECT_SOURCE_DIR}/cmake/mingw-x86.cmake -DCMAKE_BUILD_TYPE=Release -DTAMBERLUX_TESTS=OFF >/dev/null
    COMMAND ${CMAKE_COMMAND} --build ${TAMBERLUX_X86_BINARY_DIR} --target Tamberlux TamberluxHook tamberlux
    BYPRODUCTS ${x86_files}
    COMMENT "Building the 32-bit component for the x64 package")
  set(TAMBERLUX_PACKAGE ${TAMBERLUX_PACKAGE_DIR}/Tamberlux-x64.msi)
  tamberlux_package(x64 ${PROJECT_VERSION} ${TAMBERLUX_PACKAGE} ${x86_bin} $<TARGET_FILE_DIR:Tamberlux> x86_product
                    ${x86_files})
else()
  set(TAMBERLUX_PACKAGE ${TAMBERLUX_PACKAGE_DIR}/Tamberlux-x86.msi)
  tamberlux_package(x86 ${PROJECT_VERSION} ${TAMBERLUX_PACKAGE} $<TARGET_FILE_DIR:Tamberlux> -)
endif()
# The Group Policy template ships beside the packages.
add_custom_target(packages ALL DEPENDS ${TAMBERLUX_PACKAGE}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${packaging}/PolicyDefinitions ${TAMBERLUX_PACKAGE_DIR}/PolicyDefinitions)
