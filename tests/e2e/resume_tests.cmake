# A download killed part-way in parvex-engine-fetch and resumed by a new engine on the same data
# folder; also the tool's own answers (listing, exit codes, TLS flags).
parvex_add_test(e2e_resume_tests engine
    ${CMAKE_CURRENT_SOURCE_DIR}/resume_test.cpp
)
target_link_libraries(e2e_resume_tests PRIVATE parvex_engine parvex_service_lib)
target_compile_definitions(e2e_resume_tests PRIVATE
    PARVEX_ENGINE_FETCH="$<TARGET_FILE:parvex-engine-fetch>")
add_dependencies(e2e_resume_tests parvex-engine-fetch)
