/* Loaded by the loader's tests: one function and one variable to resolve by name. */
int tiny_answer(void) {
  return 42;
}
int tiny_value = 7;
