# kserverctl against a real kserver; included from tests/e2e/CMakeLists.txt. Needs the server
# program and kserverctl. Its JSON output is read back with Qt's parser.
if(TARGET kserver AND TARGET kserverctl)
  find_package(Qt6 REQUIRED COMPONENTS Core)
  tarvo_add_gtest(kserverctl_e2e_test LABEL e2e TIMEOUT 180
    SOURCES kserverctl_e2e_test.cpp
    LIBS tarvo_net tarvo_protocol Qt6::Core
  )
  add_dependencies(kserverctl_e2e_test kserver kserverctl)
endif()
