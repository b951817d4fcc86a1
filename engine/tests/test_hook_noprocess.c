/* A frame-hook library without the "Process" entry point, for the engine's tests. */
int Configure(void** context, int argc, char* argv[]) {
  (void)argc;
  (void)argv;
  *context = 0;
  return 0;
}
