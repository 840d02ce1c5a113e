// A program an HTML page's link starts: writes its arguments after the first, one per
// line, into the file the first argument names, so the test sees it ran with them.
#include <fstream>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::ofstream out(argv[1], std::ios::binary);
  for (int i = 2; i < argc; ++i) out << argv[i] << "\n";
  return out ? 0 : 1;
}
