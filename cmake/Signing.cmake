# Authenticode signatures (osslsigncode) on the shipped binaries and packages.
#
#   TAMBERLUX_SIGNING_PFX            a PFX (PKCS#12) file with the signing certificate and its key
#   TAMBERLUX_SIGNING_PASSWORD_FILE  a file whose first line is the PFX's password
#
# Both are cache variables, taken from the environment variables of the same
# names when not given to cmake. Without a PFX the build makes a throw-away
# self-signed test certificate with openssl (build/test-signing/, shared by
# the x64 and x86 builds so both bitnesses in a package carry the same one),
# trusted by nothing but the build's own checks. Either way the certificate the
# signatures carry is written to signing/signing-cert.pem for `osslsigncode
# verify -CAfile`.
find_program(TAMBERLUX_OSSLSIGNCODE osslsigncode REQUIRED)
find_program(TAMBERLUX_OPENSSL openssl REQUIRED)
set(TAMBERLUX_SIGNING_PFX "$ENV{TAMBERLUX_SIGNING_PFX}" CACHE FILEPATH "PFX file to sign with (empty: a test certificate)")
set(TAMBERLUX_SIGNING_PASSWORD_FILE "$ENV{TAMBERLUX_SIGNING_PASSWORD_FILE}" CACHE FILEPATH
    "File holding the PFX's password")

set(TAMBERLUX_SIGNING_DIR ${CMAKE_BINARY_DIR}/signing)
file(MAKE_DIRECTORY ${TAMBERLUX_SIGNING_DIR})
if(TAMBERLUX_SIGNING_PFX)
  if(NOT EXISTS "${TAMBERLUX_SIGNING_PFX}" OR NOT EXISTS "${TAMBERLUX_SIGNING_PASSWORD_FILE}")
    message(FATAL_ERROR "TAMBERLUX_SIGNING_PFX and TAMBERLUX_SIGNING_PASSWORD_FILE must both name existing files")
  endif()
  set(pfx ${TAMBERLUX_SIGNING_PFX})
  set(password ${TAMBERLUX_SIGNING_PASSWORD_FILE})
else()
  set(test_dir ${PROJECT_SOURCE_DIR}/build/test-signing)
  set(pfx ${test_dir}/test-signing.pfx)
  set(password ${test_dir}/test-signing.password)
  if(NOT EXISTS ${pfx})
    file(MAKE_DIRECTORY ${test_dir})
    set(key ${test_dir}/test-signing.key)
    execute_process(COMMAND ${TAMBERLUX_OPENSSL} rand -hex 16 OUTPUT_FILE ${password} COMMAND_ERROR_IS_FATAL ANY)
    execute_process(
      COMMAND ${TAMBERLUX_OPENSSL} req -x509 -newkey rsa:2048 -nodes -days 3650 -keyout ${key}
              -out ${test_dir}/test-signing.pem -subj "/O=Valdomeren/CN=Tamberlux test signing"
              -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning"
      OUTPUT_QUIET ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
    execute_process(
      COMMAND ${TAMBERLUX_OPENSSL} pkcs12 -export -inkey ${key} -in ${test_dir}/test-signing.pem
              -out ${pfx} -passout file:${password}
      COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE ${key})
  endif()
endif()
execute_process(
  COMMAND ${TAMBERLUX_OPENSSL} pkcs12 -in ${pfx} -passin file:${password} -nokeys -clcerts
          -out ${TAMBERLUX_SIGNING_DIR}/signing-cert.pem
  COMMAND_ERROR_IS_FATAL ANY)
set(TAMBERLUX_SIGN_COMMAND ${TAMBERLUX_OSSLSIGNCODE} sign -pkcs12 ${pfx} -readpass ${password} -h sha256
    -n Tamberlux)

# Signs a target's file after it is built (and after the post-build steps
# registered before this call, such as stripping).
function(tamberlux_sign target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E remove -f $<TARGET_FILE:${target}>.signed
    COMMAND ${TAMBERLUX_SIGN_COMMAND} -in $<TARGET_FILE:${target}> -out $<TARGET_FILE:${target}>.signed
    COMMAND ${CMAKE_COMMAND} -E rename $<TARGET_FILE:${target}>.signed $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()
