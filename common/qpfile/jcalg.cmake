# The packed stream: decoder, encoder (match finder, parser, code writer) and tests.
add_library(akqp_jcalg STATIC
  ${CMAKE_CURRENT_LIST_DIR}/jcalg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/jcalg_codes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/jcalg_match_finder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/jcalg_parser.cpp
)

akqp_test(jcalg_test ${CMAKE_CURRENT_LIST_DIR}/jcalg_test.cpp LIBS akqp_jcalg)
