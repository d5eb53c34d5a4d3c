# kserverctl against a real kserver; included from tests/e2e/CMakeLists.txt. Needs the server
# program and kserverctl.
if(TARGET kserver AND TARGET kserverctl)
  tarvo_add_gtest(kserverctl_e2e_test LABEL e2e TIMEOUT 120
    SOURCES kserverctl_e2e_test.cpp
    LIBS tarvo_net tarvo_protocol
  )
  add_dependencies(kserverctl_e2e_test kserver kserverctl)
endif()
