/* A tiny library for the run-time loader tests, built twice under two names
 * (TEST_LIBRARY_ANSWER differs) so that replacing one by another shows. */
int tov_test_answer(void)
{
    return TEST_LIBRARY_ANSWER;
}

/* A present symbol whose value is null must still count as found. */
void* tov_test_null_pointer = 0;
