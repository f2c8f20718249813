# The release public key: 128 hexadecimal characters, X then Y of the P-256 point.
# All zeros builds a launcher that installs nothing and says so.
string(REPEAT "0" 128 _plovatek_zero_key)
set(PLOVATEK_RELEASE_PUBLIC_KEY "${_plovatek_zero_key}" CACHE STRING
    "Release public key: 128 hex characters (X then Y), as 'plovatek-release keygen' prints them")

string(STRIP "${PLOVATEK_RELEASE_PUBLIC_KEY}" _plovatek_key)
string(LENGTH "${_plovatek_key}" _plovatek_key_length)
if(NOT _plovatek_key_length EQUAL 128 OR NOT _plovatek_key MATCHES "^[0-9A-Fa-f]+$")
  message(FATAL_ERROR
    "PLOVATEK_RELEASE_PUBLIC_KEY must be exactly 128 hexadecimal characters (the X and Y "
    "coordinates of the P-256 release public key, as 'plovatek-release keygen' prints them), "
    "but it is ${_plovatek_key_length} characters long: '${PLOVATEK_RELEASE_PUBLIC_KEY}'")
endif()
string(REGEX REPLACE "([0-9A-Fa-f][0-9A-Fa-f])" "0x\\1," PLOVATEK_RELEASE_KEY_BYTES "${_plovatek_key}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/release_key.cpp.in ${CMAKE_BINARY_DIR}/generated/release_key.cpp @ONLY)
