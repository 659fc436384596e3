# Bundle signatures, tool locations and the apply-update mode. The signature and tool-location code is a
# library of its own (Qt Core and libcrypto only) so the stand-in tools link it without the rest of Nimbrel.
#
# Build-time settings:
#   NIMBREL_UPDATE_PUBLIC_KEY  PEM file of the Ed25519 public key that verifies releases. Not given: the
#                              test-only key in tests/keys, and a warning says so. Release builds set it.
#   NIMBREL_TEAM_IDENTIFIER    the 10-character team named by the code-signing requirement.
#   NIMBREL_TOOL_HDIUTIL, NIMBREL_TOOL_DITTO, NIMBREL_TOOL_CODESIGN, NIMBREL_TOOL_XATTR, NIMBREL_TOOL_OPEN
#                              absolute paths of the five update tools. Empty (the default): the tool
#                              beside the running program in ../libexec/nimbrel/ (a build tree, an
#                              installation, a Nimbrel.app bundle), else <prefix>/libexec/nimbrel/.
find_package(OpenSSL REQUIRED)

set(NIMBREL_UPDATE_PUBLIC_KEY "" CACHE FILEPATH
    "PEM Ed25519 public key that verifies update bundles (empty: the TEST-ONLY key)")
set(NIMBREL_TEAM_IDENTIFIER "NIMBREL000" CACHE STRING "Team identifier of the code-signing requirement")
if(NOT NIMBREL_TEAM_IDENTIFIER MATCHES "^[A-Z0-9]+$")
  message(FATAL_ERROR "NIMBREL_TEAM_IDENTIFIER must be upper-case letters and digits")
endif()
string(LENGTH "${NIMBREL_TEAM_IDENTIFIER}" team_length)
if(NOT team_length EQUAL 10)
  message(FATAL_ERROR "NIMBREL_TEAM_IDENTIFIER must have 10 characters")
endif()

set(test_public_key "${PROJECT_SOURCE_DIR}/tests/keys/TEST-ONLY-update-public-key.pem")
if(NIMBREL_UPDATE_PUBLIC_KEY)
  get_filename_component(update_key_file "${NIMBREL_UPDATE_PUBLIC_KEY}" ABSOLUTE)
else()
  set(update_key_file "${test_public_key}")
endif()
if(NOT EXISTS "${update_key_file}")
  message(FATAL_ERROR "NIMBREL_UPDATE_PUBLIC_KEY: ${update_key_file} does not exist")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${update_key_file}" "${test_public_key}")

# The key is built in as the base64 body of the PEM file (its SubjectPublicKeyInfo).
function(nimbrel_public_key_body file out)
  file(READ "${file}" pem)
  if(pem MATCHES "PRIVATE")
    message(FATAL_ERROR "${file} holds a private key; give the public key only")
  endif()
  if(NOT pem MATCHES "-----BEGIN PUBLIC KEY-----")
    message(FATAL_ERROR "${file} is not a PEM public key")
  endif()
  string(REGEX REPLACE "-----[A-Z ]+-----" "" body "${pem}")
  string(REGEX REPLACE "[ \t\r\n]" "" body "${body}")
  # Every Ed25519 SubjectPublicKeyInfo starts with the same 12 bytes.
  if(NOT body MATCHES "^MCowBQYDK2VwAyEA[A-Za-z0-9+/]+=?$")
    message(FATAL_ERROR "${file} is not an Ed25519 public key")
  endif()
  set(${out} "${body}" PARENT_SCOPE)
endfunction()
nimbrel_public_key_body("${update_key_file}" update_key_body)
nimbrel_public_key_body("${test_public_key}" test_key_body)
if(update_key_body STREQUAL test_key_body)
  set(update_key_is_test 1)
  message(WARNING "Updates are verified against the TEST key (tests/keys). Anyone can sign bundles this build "
                  "accepts: set NIMBREL_UPDATE_PUBLIC_KEY to the release public key for a release build.")
else()
  set(update_key_is_test 0)
endif()

set(tool_definitions)
foreach(tool HDIUTIL DITTO CODESIGN XATTR OPEN)
  set(NIMBREL_TOOL_${tool} "" CACHE FILEPATH "Absolute path of the update tool (empty: beside the program)")
  if(NIMBREL_TOOL_${tool} AND NOT IS_ABSOLUTE "${NIMBREL_TOOL_${tool}}")
    message(FATAL_ERROR "NIMBREL_TOOL_${tool} must be an absolute path")
  endif()
  list(APPEND tool_definitions NIMBREL_TOOL_${tool}="${NIMBREL_TOOL_${tool}}")
endforeach()

add_library(nimbrel_update_support STATIC
  ${CMAKE_CURRENT_LIST_DIR}/FileTree.h ${CMAKE_CURRENT_LIST_DIR}/FileTree.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BundleManifest.h ${CMAKE_CURRENT_LIST_DIR}/BundleManifest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ToolPaths.h ${CMAKE_CURRENT_LIST_DIR}/ToolPaths.cpp)
target_include_directories(nimbrel_update_support PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(nimbrel_update_support PUBLIC Qt6::Core OpenSSL::Crypto)
target_compile_definitions(nimbrel_update_support PRIVATE
  ${tool_definitions}
  NIMBREL_TOOLS_INSTALL_DIR="${CMAKE_INSTALL_FULL_LIBEXECDIR}/nimbrel"
  NIMBREL_TEAM_IDENTIFIER="${NIMBREL_TEAM_IDENTIFIER}"
  NIMBREL_UPDATE_PUBLIC_KEY_BASE64="${update_key_body}"
  NIMBREL_UPDATE_KEY_IS_TEST_KEY=${update_key_is_test})

target_sources(nimbrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/UpdateLog.h ${CMAKE_CURRENT_LIST_DIR}/UpdateLog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ApplyUpdate.h ${CMAKE_CURRENT_LIST_DIR}/ApplyUpdate.cpp)
target_link_libraries(nimbrel_core PUBLIC nimbrel_update_support)
