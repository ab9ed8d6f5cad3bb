# Whole downloads through the transfer manager against an in-process parvex-service.
parvex_add_test(e2e_download_tests engine
    e2e_fixture.cpp
    download_test.cpp
    disk_safety_test.cpp
    fault_test.cpp
    token_test.cpp
)
target_link_libraries(e2e_download_tests PRIVATE parvex_engine parvex_service_lib)
