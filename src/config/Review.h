#pragma once

#include <optional>
#include <string>
#include <vector>

#include "config/ConfigText.h"

namespace rlv::app {
class MainWindow;
}

namespace rlv::config {

// Review before write: once the tracker's configuration has been read during
// this connection, a write first lists the fields it will change on the
// tracker (old -> new, by the names of the configuration text) and asks to
// confirm. A write that changes nothing asks nothing. "ReviewBeforeWrite=0" in
// the settings file's [Settings] turns the review off.
class WriteReview {
 public:
  explicit WriteReview(app::MainWindow& w);

  // The records now on the pages' side are those the tracker holds (a read has ended).
  void RememberRead();
  // Called with the records built for a write: true when the write may go on.
  bool Approve();
  // A write that goes without review: its records are on the tracker once written.
  void Unreviewed();
  // The configuration known to be on the tracker, if any.
  const std::optional<text::Records>& OnTracker() const { return on_tracker_; }
  // The changes listed by the last review (empty when it asked nothing).
  std::vector<text::Difference> LastChanges;

 private:
  app::MainWindow& w_;
  std::optional<text::Records> on_tracker_;
  std::optional<text::Records> pending_;  // approved and being written
  std::string caption_;                   // the link's status line, to notice a new connection
};

}  // namespace rlv::config
