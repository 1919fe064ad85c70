// The pace a series keeps: the real window (offscreen) with the simulated devices of
// --simulate in real time, acquisition off, a series at WAIT seconds for SECONDS, its
// pictures and record in FOLDER. Prints one line: the wait, the shots taken and the
// ticks that fell due, the longest time between two shots' stamps, and the syncs a shot
// made (when ostrelo_sync_delay is preloaded, which counts them).
//
//   ostrelo_series_pace FOLDER WAIT SECONDS
//
// Built from this one file on the current tree and on earlier ones, so it uses only
// what both offer.

#include <dlfcn.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/MainWindow.h"
#include "app/Session.h"

namespace {

class AnsweringDialogs final : public ostrelo::Dialogs {
 public:
  std::string saveAs;
  void MessageBox(const std::string& text, const std::string&) override {
    std::fprintf(stderr, "[message box] %s\n", text.c_str());
  }
#ifdef OSTRELO_PACE_QUESTION_WITHOUT_DEFAULT
  bool AskYesNo(const std::string&, const std::string&) override { return true; }
#else
  bool AskYesNo(const std::string&, const std::string&, ostrelo::Answer) override { return true; }
#endif
  std::optional<std::string> ShowSave(const ostrelo::SaveDialogRequest&) override { return saveAs; }
  void SetBusyPointer(bool) override {}
};

// The plan of a running series is kept as the program keeps it, where the tree has one.
template <class Options>
void KeepPlansIn(Options& options, const std::string& folder) {
  if constexpr (requires { options.planFolder; }) options.planFolder = folder;
}

// The syncs counted by the preloaded shim, or -1 without it.
long SyncCalls() {
  const auto* calls = static_cast<const std::atomic<unsigned long>*>(dlsym(RTLD_DEFAULT, "ostrelo_sync_calls"));
  return calls != nullptr ? static_cast<long>(calls->load()) : -1;
}

// The seconds since midnight of every shot line's stamp ("2011032545296.53", either mark).
std::vector<double> Stamps(const std::string& record) {
  std::vector<double> stamps;
  std::ifstream in(record);
  std::string line;
  std::getline(in, line);  // the header
  while (std::getline(in, line)) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos || line.size() < tab + 17) continue;
    std::string seconds = line.substr(tab + 9, 8);
    std::replace(seconds.begin(), seconds.end(), ',', '.');
    double value = 0;
    std::from_chars(seconds.data(), seconds.data() + seconds.size(), value);
    stamps.push_back(value);
  }
  return stamps;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s FOLDER WAIT SECONDS\n", argv[0]);
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  // Read before Qt sets the locale's number rules.
  const std::string wait = argv[2];
  const double waitSeconds = std::atof(argv[2]), seconds = std::atof(argv[3]);
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder / "plans");
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  ostrelo::qtui::ConfigureApplication();
  AnsweringDialogs dialogs;
  dialogs.saveAs = (folder / "pace-.bmp").string();
  ostrelo::qtui::SessionOptions options;
  options.simulate = true;
  options.dialogs = &dialogs;
  KeepPlansIn(options, (folder / "plans").string());
  ostrelo::qtui::Session session(options);
  if (!session.Start()) return 1;
  session.window()->show();
  ostrelo::Form1& form = session.form();
  ostrelo::qtui::MainWindow& window = *session.window();

  // Acquisition off: with it on, every grab reads the card four times for 80 ms, and no
  // series could keep a wait under 0.4 s whatever the files cost.
  form.ui.AcquiCheck.value = 0;
  window.Dispatch([&] { form.AcquiCheck_Click(); });
  form.ui.TimeText.caption = wait;
  window.Dispatch([&] { form.TimeText_Change(); });
  window.Dispatch([&] { form.TimeText_KeyPress(ostrelo::kKeyEnter); });
  window.Dispatch([&] { form.Command2_Click(); });  // its first shot now
  QElapsedTimer since;
  since.start();
  const long syncsAtFirst = SyncCalls();
  const int32_t first = form.ShotCounter;
  QTimer::singleShot(static_cast<int>(seconds * 1000), [&] { app.quit(); });
  app.exec();
  const double elapsed = static_cast<double>(since.elapsed()) / 1000.0;
  const int32_t shots = form.ShotCounter - first;
  const long syncs = SyncCalls() - syncsAtFirst;
  window.Dispatch([&] { form.Command2_Click(); });

  // The ticks after the first shot that fell due; the last may still have been on its way.
  const int due = static_cast<int>(std::floor(elapsed / waitSeconds));
  const std::vector<double> stamps = Stamps(form.st.RecordFileName);
  double longest = 0;
  for (size_t i = 1; i < stamps.size(); ++i) longest = std::max(longest, stamps[i] - stamps[i - 1]);
  std::printf(
      "wait %s s: %d shots of %d ticks due (%s), longest between stamps %.2f s, syncs a shot %s\n", wait.c_str(), shots,
      due, shots >= due - 1 ? "every shot kept" : "SHOTS LOST", longest,
      syncsAtFirst < 0 || shots == 0 ? "not counted" : std::to_string(double(syncs) / shots).substr(0, 4).c_str());
  window.close();
  std::filesystem::remove_all(folder);
  return 0;
}
