// Planning an extraction: selection by patterns, names checked and turned into paths, and the
// decision for every target that exists already.
#include "tools/extract_plan.h"

#include <cstdio>
#include <map>

#include "format/container.h"
#include "tools/entry_path.h"
#include "tools/system.h"
#include "tools/terminal.h"
#include "tools/texts.h"

namespace tool {

namespace {

enum class Answer { Yes, No, All, Never, Quit };

Answer AskOverwrite(const std::string& target) {
    for (;;) {
        char c = AskChoice(target + " exists. Overwrite? [y]es, [n]o, [a]ll, n[e]ver, [q]uit: ");
        switch (c) {
            case 'y':
                return Answer::Yes;
            case 'n':
                return Answer::No;
            case 'a':
                return Answer::All;
            case 'e':
                return Answer::Never;
            case 'q':
            case 0:
                return Answer::Quit;
            default:
                break;
        }
    }
}

// What becomes of an entry whose target exists.
enum class Existing { Overwrite, Keep, Refuse, Quit };

class Planner {
  public:
    Planner(const std::vector<std::string>& patterns, const std::string& root,
            OverwritePolicy policy, bool interactive, bool quiet)
        : patterns_(patterns),
          patternUsed_(patterns.size(), false),
          root_(root),
          policy_(policy),
          interactive_(interactive),
          quiet_(quiet) {}

    // Plans one entry of the directory; false once the user chose to quit.
    bool Consider(const VORN_FILEINFO& info);
    ExtractPlan Finish();

  private:
    bool Selected(const std::string& name);
    Existing DecideAboutExisting(const std::string& target);
    Existing Ask(const std::string& target);

    const std::vector<std::string>& patterns_;
    std::vector<bool> patternUsed_;
    const std::string& root_;
    OverwritePolicy policy_;
    const bool interactive_;
    const bool quiet_;
    std::vector<PlannedEntry> entries_;
    std::vector<bool> superseded_;            // a later entry of the same target replaces it
    std::map<std::string, size_t> byTarget_;  // target -> index in entries_
    uint64_t failed_ = 0;
    uint64_t skipped_ = 0;
    bool quit_ = false;
};

// Every pattern that matches counts as used, even when an earlier one selected the entry.
bool Planner::Selected(const std::string& name) {
    if (patterns_.empty()) return true;
    bool selected = false;
    for (size_t i = 0; i < patterns_.size(); ++i) {
        if (EntryMatchesPattern(name, patterns_[i])) {
            patternUsed_[i] = true;
            selected = true;
        }
    }
    return selected;
}

Existing Planner::Ask(const std::string& target) {
    switch (AskOverwrite(target)) {
        case Answer::Yes:
            return Existing::Overwrite;
        case Answer::No:
            return Existing::Keep;
        case Answer::All:
            policy_ = OverwritePolicy::Always;
            return Existing::Overwrite;
        case Answer::Never:
            policy_ = OverwritePolicy::Never;
            return Existing::Keep;
        case Answer::Quit:
            break;
    }
    return Existing::Quit;
}

Existing Planner::DecideAboutExisting(const std::string& target) {
    if (policy_ == OverwritePolicy::Always) return Existing::Overwrite;
    if (policy_ == OverwritePolicy::Never) return Existing::Keep;
    if (interactive_) return Ask(target);
    std::fprintf(stderr, "vorn: %s exists; not overwritten (use --overwrite or --skip-existing)\n",
                 target.c_str());
    return Existing::Refuse;
}

bool Planner::Consider(const VORN_FILEINFO& info) {
    std::string name = info.szName;
    if (name == format::kCommentName || !Selected(name)) return true;
    PlannedEntry entry{info, {}, {}, VORN_SUCCESS, {}};
    std::string reason;
    if (!EntryNameToRelativePath(name, entry.relative, reason)) {
        std::fprintf(stderr, "vorn: refused %s: %s; nothing written\n", Shown(name).c_str(),
                     reason.c_str());
        ++failed_;
        return true;
    }
    entry.target = root_ + "/" + entry.relative;
    auto earlier = byTarget_.find(entry.target);
    os::PathFacts facts;
    bool onDisk = earlier == byTarget_.end() && os::StatPathItself(entry.target, facts);
    if (onDisk && facts.kind == os::PathKind::Folder) {
        std::fprintf(stderr, "vorn: %s: a folder of that name exists at %s\n", Shown(name).c_str(),
                     Shown(entry.target).c_str());
        ++failed_;
        return true;
    }
    if (onDisk || earlier != byTarget_.end()) {
        Existing decision = DecideAboutExisting(entry.target);
        if (decision == Existing::Quit) {
            quit_ = true;
            return false;
        }
        if (decision == Existing::Refuse) ++failed_;
        if (decision == Existing::Keep) {
            if (!quiet_) std::printf("skipped %s\n", Shown(name).c_str());
            ++skipped_;
        }
        if (decision != Existing::Overwrite) return true;
        if (earlier != byTarget_.end()) superseded_[earlier->second] = true;
    }
    byTarget_[entry.target] = entries_.size();
    entries_.push_back(entry);
    superseded_.push_back(false);
    return true;
}

ExtractPlan Planner::Finish() {
    ExtractPlan plan;
    for (size_t i = 0; i < patterns_.size() && !quit_; ++i) {
        if (!patternUsed_[i]) {
            std::fprintf(stderr, "vorn: no entry matches %s\n", patterns_[i].c_str());
            ++failed_;
        }
    }
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (!superseded_[i]) plan.entries.push_back(entries_[i]);
    }
    plan.failed = failed_;
    plan.skipped = skipped_;
    return plan;
}

}  // namespace

ExtractPlan MakeExtractPlan(const std::vector<VORN_FILEINFO>& entries,
                            const std::vector<std::string>& patterns, const std::string& root,
                            OverwritePolicy policy, bool interactive, bool quiet) {
    Planner planner(patterns, root, policy, interactive, quiet);
    for (const VORN_FILEINFO& info : entries) {
        if (!planner.Consider(info)) break;
    }
    return planner.Finish();
}

}  // namespace tool
