/* A minimal Windows program whose image the stub-size tests measure. */
int main(void) { return 0; }
