# Runs one fuzzer for a fixed time from a fixed seed over a copy of its seed corpus,
# so that the suite is repeatable and the checked-in corpus is never modified.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
if(EXISTS ${CORPUS})
    file(COPY ${CORPUS}/ DESTINATION ${WORK})
endif()
execute_process(COMMAND ${FUZZER} -seed=1 -max_total_time=${SECONDS} -rss_limit_mb=2048
                        -print_final_stats=1 ${WORK}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${FUZZER} failed with ${result}")
endif()
