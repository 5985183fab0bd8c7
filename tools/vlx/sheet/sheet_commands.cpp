// `vlx sheet` on the command line: its options, and the call each command makes.
#include "vlx/sheet/sheet_commands.h"

#include "vlx/core/commands.h"

#include <memory>
#include <optional>
#include <string>

namespace vlx::cli {

RunParsed addSheetCommands(CLI::App &app, bool &json) {
  struct Args {
    std::string file, range, value, server;
    double lockWait = 10;
    bool unregister = false;
  };
  auto args = std::make_shared<Args>();
  const char *const workbookHelp = "The workbook";

  auto *sheet =
      addCommandGroup(app, "sheet",
                      "A workbook through the spreadsheet wrappers and the server registered for "
                      "Excel.Application (LibreOffice Calc on Linux). RANGE: B3 or Sheet2!B3. The "
                      "office stays up for the next command until unused for "
                      "VELMORA_CALC_KEEP_SECONDS (default 300); 0 starts one office per command.");
  auto *get = sheet->add_subcommand("get", "Print the value of RANGE in FILE.");
  get->add_option("FILE", args->file, workbookHelp)->required();
  get->add_option("RANGE", args->range, "The cell, or a block printed a row a line")->required();
  addJsonFlag(get, json);
  auto *set = sheet->add_subcommand("set", "Set RANGE in FILE to VALUE, as typed, and save FILE.");
  set->add_option("FILE", args->file, workbookHelp)->required();
  set->add_option("RANGE", args->range, "The cell")->required();
  set->add_option("VALUE", args->value, "The value")->required();
  set->add_option("--wait", args->lockWait,
                  "Seconds to wait while another process writes FILE or has the shared "
                  "office's turn (default 10)")
      ->check(CLI::Range(0.0, 3600.0));
  auto *names =
      sheet->add_subcommand("names", "Print FILE's defined names and what they refer to.");
  names->add_option("FILE", args->file, workbookHelp)->required();
  addJsonFlag(names, json);
  auto *sheets = sheet->add_subcommand("sheets", "Print FILE's sheet names.");
  sheets->add_option("FILE", args->file, workbookHelp)->required();
  addJsonFlag(sheets, json);
  args->server = installedCalcServer();
  auto *reg = sheet->add_subcommand(
      "register", "Register the server library for all users (the machine hive), as regsvr32.");
  auto *server = reg->add_option("SERVER", args->server,
                                 "The server library (default: the one installed beside vlx)");
  reg->add_flag("--unregister,-u", args->unregister,
                "Remove the registration instead, without loading anything: the keys "
                "that name SERVER, or without SERVER the class of Excel.Application");

  return [=, &json](std::ostream &out, std::ostream &) {
    const Args &a = *args;
    if (*get)
      sheetGet(out, a.file, a.range, json);
    else if (*set)
      sheetSet(a.file, a.range, a.value, a.lockWait);
    else if (*names)
      sheetNames(out, a.file, json);
    else if (*sheets)
      sheetSheets(out, a.file, json);
    else if (*reg)
      // Registering without SERVER names the installed one; unregistering without it, the class.
      sheetRegister(out,
                    server->count() || !a.unregister ? std::optional<std::string>(a.server)
                                                     : std::nullopt,
                    a.unregister);
  };
}

} // namespace vlx::cli
