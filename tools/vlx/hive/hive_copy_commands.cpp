// `vlx reg backup FILE` and `vlx reg restore FILE` through the store's online backup.
#include "vlx/hive/hive_copy_commands.h"

#include "vlx/core/errors.h"
#include "vlx/core/file_io.h"
#include "vlx/core/flags.h"
#include "vlx/store/reg_store.h"

#include <velmora/hive.h>

#include <memory>
#include <string>

namespace vlx::cli {

RunParsed addHiveCopyCommands(CLI::App &reg) {
  struct Args {
    std::string file;
    HiveFlags hives;
  };
  auto args = std::make_shared<Args>();
  auto *backup = reg.add_subcommand(
      "backup", "Copy the user's hive (or another) whole into FILE, consistent even while hosts "
                "are using it. Use this, not cp: the hive file alone can lack recent changes.");
  backup
      ->add_option("FILE", args->file,
                   "The copy to write (replaced whole; a link is followed to the file it names)")
      ->required();
  addHiveFlags(backup, args->hives);
  auto *restore = reg.add_subcommand(
      "restore", "Replace the whole content of the user's hive (or another) with FILE, a copy "
                 "made by reg backup, as one change that running hosts see at once.");
  restore->add_option("FILE", args->file, "The copy to restore")->required();
  addHiveFlags(restore, args->hives);

  return [=](std::ostream &out, std::ostream &) {
    if (!*backup && !*restore)
      return;
    const Hive hive = args->hives.hive();
    std::string why;
    // A link at FILE is followed, and the file it leads to replaced, as every file vlx writes.
    LONG error = *backup ? backupHive(hive, fileToReplace(args->file), &why)
                         : restoreHive(hive, args->file, &why);
    if (error != ERROR_SUCCESS)
      throw Failure((*backup ? "backup failed: " : "restore failed: ") +
                    (why.empty() ? errorText(error) : why));
    out << (*backup ? "backed up the " : "restored the ") << hiveName(hive) << " hive "
        << (*backup ? "to " : "from ") << printable(args->file) << '\n';
  };
}

} // namespace vlx::cli
