#include "kembuild/form_commands.h"

#include <cstdio>
#include <fstream>
#include <iostream>

#include "dialogs/forms/form_binary.h"
#include "dialogs/forms/form_text.h"

namespace kem {

std::string CompileTextForm(std::string_view text, const std::string& fileNameForMessages) {
  forms::FormObject root = forms::ParseTextForm(text, fileNameForMessages);
  try {
    return forms::WriteBinaryForm(root);
  } catch (const forms::FormError& e) {
    throw forms::FormError(fileNameForMessages + ": " + e.what());
  }
}

namespace {

bool AsksForHelp(const std::vector<std::string>& args) {
  for (const auto& a : args)
    if (a == "--help" || a == "-h") return true;
  return false;
}

}  // namespace

int RunFormCompile(const std::vector<std::string>& args) {
  if (AsksForHelp(args)) {
    std::cout << "usage: kembuild form-compile TEXT_FORM BINARY_FORM\n"
                 "Compiles a text form file into a binary form file (docs/form-files.md).\n";
    return 0;
  }
  if (args.size() != 2) {
    std::cerr << "usage: kembuild form-compile TEXT_FORM BINARY_FORM\n";
    return 2;
  }
  try {
    std::string binary = CompileTextForm(forms::ReadFileBytes(args[0]), args[0]);
    // Written to a temporary name first so that a failed write leaves no partial form.
    std::string temp = args[1] + ".tmp";
    {
      std::ofstream out(temp, std::ios::binary | std::ios::trunc);
      if (!out) throw std::runtime_error(args[1] + ": cannot create the file");
      out.write(binary.data(), static_cast<std::streamsize>(binary.size()));
      out.close();
      if (!out) {
        std::remove(temp.c_str());
        throw std::runtime_error(args[1] + ": cannot write the file");
      }
    }
    std::remove(args[1].c_str());
    if (std::rename(temp.c_str(), args[1].c_str()) != 0) {
      std::remove(temp.c_str());
      throw std::runtime_error(args[1] + ": cannot write the file");
    }
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "kembuild: " << e.what() << "\n";
    return 1;
  }
}

int RunFormText(const std::vector<std::string>& args) {
  if (AsksForHelp(args)) {
    std::cout << "usage: kembuild form-text BINARY_FORM\n"
                 "Writes a binary form file as a text form file to standard output.\n";
    return 0;
  }
  if (args.size() != 1) {
    std::cerr << "usage: kembuild form-text BINARY_FORM\n";
    return 2;
  }
  try {
    std::string text = forms::FormToText(forms::LoadFormFile(args[0]));
    std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
    std::cout.flush();
    if (!std::cout) {
      std::cerr << "kembuild: cannot write to standard output\n";
      return 1;
    }
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "kembuild: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace kem
