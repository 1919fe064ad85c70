#include "watch/Watcher.h"

#include <utility>

#include "shell/Form1.h"
#include "shell/ProgramError.h"
#include "shots/BitmapWriter.h"
#include "shots/FileOutput.h"

namespace ostrelo {

Watcher::Watcher(Form1& form, std::string statusFile) : form_(form), statusFile_(std::move(statusFile)) {
  if (!statusFile_.empty()) {
    const size_t folderPart = FolderPartLength(statusFile_);
    RemoveStaleTemporaries(folderPart == 0 ? "." : statusFile_.substr(0, folderPart));
  }
}

void Watcher::Update() {
  if (form_.ShotCounter != lastShot_.number) {
    lastShot_ = {form_.ShotCounter, form_.dev.clock.Now(), form_.dev.clock.SteadyMs()};
    for (size_t i = 0; i < lastShot_.voltages.size(); ++i) lastShot_.voltages[i] = form_.st.ChannelTable[i].Value;
  }
  if (!statusFile_.empty()) WriteStatus(StatusJson(TakeReport(form_, lastShot_)));
  if (events_ != nullptr) events_->Observe(form_, lastShot_);
}

void Watcher::WriteStatus(const std::string& json) {
  if (json == written_) return;
  try {
    // Under a temporary name, then renamed: a reader never sees half a document. Not
    // synced: it is rewritten at every shot and only tells the present.
    ReplaceFileContents(statusFile_, json.data(), json.size(), FileSync::Cached);
    written_ = json;
    if (statusFailing_) form_.Log("Status file " + statusFile_ + " written again");
    statusFailing_ = false;
  } catch (const ProgramError& e) {
    // The run goes on without it; said once until it works again.
    if (!statusFailing_) form_.Log("Status file not written: " + e.description());
    statusFailing_ = true;
  }
}

}  // namespace ostrelo
