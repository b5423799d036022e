// vtrtool lyr-info: what a layer file holds, one "key TAB value" per line: its version, the
// number of objects, their vertices (one for a point object or a poly with no chains, else its
// chains' points), the presenters, the rectangle of all objects and the reader's name.
#include "Command.h"

#include "globe/GLYRReader.h"
#include "globe/GPresenter.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

namespace {

int RunLyrInfo(const vtrtool::Args& args)
{
  if (args.size() != 1) throw vtrtool::UsageError{"takes one layer file"};
  const std::string& file = args[0];
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec))
    throw vtrtool::InputError{"cannot read \"" + file + "\": no such file"};
  std::unique_ptr<vtr::TGFileDataReader> reader = vtr::DataReaderForFile(nullptr, file);
  auto* lyr = dynamic_cast<vtr::TGLYRFileReader*>(reader.get());
  if (!lyr) throw vtrtool::InputError{"\"" + file + "\" is not a layer file (.lyr)"};

  int64_t objects = 0;
  int64_t points = 0;
  vtr::TGMER mer{};
  try {
    for (auto obj = lyr->First(); obj; obj = lyr->Next()) {
      ++objects;
      auto* poly = dynamic_cast<vtr::IGMapPoly*>(obj.get());
      if (!poly || poly->Chains().Count() == 0) {
        ++points; // the object's position
      } else {
        for (int32_t i = 0; i < poly->Chains().Count(); ++i)
          if (const vtr::TGPointStore* chain = poly->Chains().ChainAt(i)) points += chain->Count();
      }
      mer = vtr::MERUnion(mer, obj->ObjectMER());
    }
  } catch (const std::exception& e) {
    throw vtrtool::InputError{e.what()};
  }
  char version[16];
  std::snprintf(version, sizeof version, "0x%X", static_cast<unsigned>(lyr->FileVersion()));
  std::cout << "version\t" << version << "\n"
            << "objects\t" << objects << "\n"
            << "points\t" << points << "\n"
            << "presenters\t" << lyr->Presenters().Count() << "\n"
            << "mer\t" << mer.iLongX << "," << mer.iLatY << "," << mer.iWidthX << ","
            << mer.iHeightY << "\n"
            << "name\t" << lyr->Name() << "\n";
  return vtrtool::kOk;
}

const vtrtool::Registrar reg({"lyr-info", "FILE",
                              "prints a layer file's version, object, vertex and presenter "
                              "counts, the rectangle of its objects and its name",
                              RunLyrInfo});

} // namespace
