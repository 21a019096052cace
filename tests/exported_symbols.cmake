# Checks the dynamic symbols of a shared library: every one it defines must
# belong to its interface, and it may export at most MAX functions.
#
#   cmake -DNM=nm -DLIBRARY=libtessul.so -DINTERFACE=cxx|jni -DMAX=60
#         -P exported_symbols.cmake
#
# The interface, as demangled names up to their parameter list. A function
# added to the interface is added here too.
set(cxx_interface
  "tessul::TessulClient::TessulClient"
  "tessul::TessulClient::~TessulClient"
  "tessul::TessulClient::parse"
  "tessul::TessulClient::setNoteSink"
  "tessul::TessulClient::matches"
  "tessul::TessulClient::findMatchingFilters"
  "tessul::TessulClient::serialize"
  "tessul::TessulClient::deserialize"
  "tessul::TessulClient::clear"
  "tessul::TessulClient::addTag"
  "tessul::TessulClient::removeTag"
  "tessul::TessulClient::tagExists"
  "tessul::TessulClient::enableBadFingerprintDetection"
  "tessul::TessulClient::hidingSelectors"
  "tessul::hidingStyleSheet(\\[abi:cxx11\\])?"
  "tessul::Filter::Filter\\(tessul::Filter const&\\)"
  "tessul::Filter::~Filter"
  "tessul::version"
  "tessul::ruleText(\\[abi:cxx11\\])?"
)
set(jni_interface "JNI_OnLoad" "Java_com_velmora_tessul_TessulClient_[a-zA-Z]+")

list(JOIN ${INTERFACE}_interface "|" alternatives)
set(interface_pattern "^(${alternatives})(\\(|$)")

execute_process(COMMAND ${NM} -D --defined-only -C ${LIBRARY}
                RESULT_VARIABLE status OUTPUT_VARIABLE listing
                ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}: ${errors}")
endif()

set(functions 0)
set(outsiders "")
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
  # "ADDRESS TYPE NAME"; the name may hold blanks.
  if(NOT line MATCHES "^[0-9a-f]+ ([A-Za-z]) (.*)$")
    continue()
  endif()
  set(type ${CMAKE_MATCH_1})
  set(name "${CMAKE_MATCH_2}")
  if(type STREQUAL "T")
    math(EXPR functions "${functions} + 1")
  endif()
  if(NOT name MATCHES "${interface_pattern}")
    string(APPEND outsiders "  ${type} ${name}\n")
  endif()
endforeach()

if(outsiders)
  message(FATAL_ERROR "${LIBRARY} exports symbols outside its interface:\n"
                      "${outsiders}")
endif()
if(functions GREATER MAX)
  message(FATAL_ERROR
          "${LIBRARY} exports ${functions} functions, more than ${MAX}")
endif()
if(functions EQUAL 0)
  message(FATAL_ERROR "${LIBRARY} exports no function at all:\n${listing}")
endif()
message(STATUS
        "${LIBRARY}: ${functions} exported functions, all of its interface")
