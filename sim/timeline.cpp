#include "sim/timeline.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "core/trigger.h"
#include "intercept/event_filter.h"
#include "intercept/hold_buffer.h"
#include "sim/event_words.h"
#include "sim/timeline_layout.h"
#include "json/input.h"
#include "json/text.h"

namespace qk {

namespace {

using Row = TimelineRow;
using Bracket = TimelineRow::Bracket;

bool isTapDisabled(EventType type) {
    return type == types::tapDisabledByTimeout || type == types::tapDisabledByUserInput;
}

bool isPointer(EventType type) {
    return type == types::leftMouseDown || type == types::rightMouseDown ||
           type == types::scrollWheel || type == types::otherMouseDown;
}

bool isPost(const Entry& entry) {
    return entry.kind == Entry::Kind::postProcess || entry.kind == Entry::Kind::postHID;
}

// A key-down the trigger matcher accepts (a key-down with a command modifier or autorepeat ends
// a hold instead).
bool isPlainKeyDown(const sim::Event& event) {
    return event.type == types::keyDown && (event.flags & commandModifiers) == 0 &&
           event.autorepeat == 0;
}

// The only event a hold can begin with: the trigger's first letter.
bool canStartHold(const sim::Event& event) {
    return isPlainKeyDown(event) && keyName(event.key, macKeys) == barcode.substr(0, 1);
}

constexpr const char* markerNote = "(marked): its user data is the helper's marker 0x514B5343414E "
                                   "(\"QKSCAN\"), so the filter lets it through untouched";

struct ParentLine {
    std::string event;
    std::string message;
};

// A line the helper wrote to its parent: an object with "event" and "message".
std::optional<ParentLine> readParentLine(std::string line) {
    using namespace simdjson;
    ondemand::parser parser;
    ondemand::document document;
    ondemand::object object;
    if (parser.iterate(padForJson(line)).get(document) || document.get_object().get(object))
        return std::nullopt;
    ParentLine parsed;
    bool haveEvent = false;
    for (auto field : object) {
        std::string_view name, value;
        if (field.unescaped_key().get(name) || field.value().get_string().get(value))
            return std::nullopt;
        if (name == "event") {
            parsed.event = value;
            haveEvent = true;
        } else if (name == "message") {
            parsed.message = value;
        } else {
            return std::nullopt;
        }
    }
    if (!haveEvent || !atEnd(document)) return std::nullopt;
    return parsed;
}

std::string quotedText(std::string_view text) {
    std::string quoted;
    if (!appendJsonString(quoted, text)) quoted = "\"?\"";
    return quoted;
}

std::string passedTo(Pid pid) {
    return pid == 0 ? "passed (no application in front)" : "passed to " + std::to_string(pid);
}

// What the copies re-posted through the hardware stream met when they passed the tap again.
struct Reentry {
    Verdict verdict = Verdict::pass;
    std::optional<Pid> pid; // the process that received it
};

std::string afterRepost(const std::vector<Reentry>& copies) {
    if (copies.empty()) return "";
    const auto sameAsFirst = [&](const Reentry& copy) {
        return copy.verdict == Verdict::pass && copy.pid && copy.pid == copies.front().pid;
    };
    if (std::ranges::all_of(copies, sameAsFirst)) return ", then " + passedTo(*copies.front().pid);
    const auto passed = std::ranges::count(copies, Verdict::pass, &Reentry::verdict);
    return ", then " + std::to_string(passed) + " passed and " +
           std::to_string(static_cast<long>(copies.size()) - passed) + " dropped";
}

enum class Ending {
    replayed,   // posted back to the process it was meant for
    reposted,   // posted through the hardware stream ahead of a click or scroll
    recognised, // the trigger: swallowed
    quiet,      // nothing posted: no application in front, or no copies to post
};

// A hold as the transcript shows it: the events dropped from its first withheld one until it
// was released.
struct Hold {
    bool open = false;
    Pid pid = 0;            // the application in front when it began
    double lastKeyDown = 0; // the time of its last accepted key-down
    std::vector<std::size_t> steps;
    std::vector<std::size_t> rows; // the rows of `steps`
};

// Walks the scenario's steps and the transcript side by side. Entries of one callback are shown
// with the event that caused them, which the transcript lists after them; what became of a
// dropped event is read from whether a copy of it was posted later.
class Timeline {
public:
    Timeline(const Scenario& run, const std::vector<Entry>& lines)
        : scenario(run), transcript(lines), posted(run.steps.size(), false),
          frontmost(run.frontmost) {
        for (const Entry& entry : lines)
            if (isPost(entry) && isStep(entry.step))
                posted[static_cast<std::size_t>(entry.step)] = true;
    }

    std::vector<Row> build();

private:
    const Scenario& scenario;
    const std::vector<Entry>& transcript;
    std::size_t next = 0; // the first entry not yet shown
    bool ended = false;   // the exit status was shown
    std::vector<Row> rows;
    std::vector<bool> posted; // for each step: a copy of it was posted at some time
    Hold hold;
    std::vector<KeyCode> swallowedUps; // keys whose next key-up is dropped, after a trigger
    Pid frontmost;
    bool copiesFail = false;  // the scenario has made event copies fail
    bool markerShown = false; // the note on the marker has been shown

    bool isStep(std::int64_t step) const {
        return step >= 0 && static_cast<std::size_t>(step) < scenario.steps.size();
    }
    const Entry* peek() const { return next < transcript.size() ? &transcript[next] : nullptr; }
    const Entry& take() { return transcript[next++]; }
    bool stale(double at) const { return frontmost != hold.pid || at - hold.lastKeyDown > gap; }

    Row row(std::optional<double> at, std::string event, std::string verdict = {}) const {
        return Row{at,
                   hold.open ? Bracket::inside : Bracket::none,
                   std::move(event),
                   std::move(verdict),
                   {}};
    }
    void add(std::optional<double> at, std::string event, std::string verdict = {}) {
        rows.push_back(row(at, std::move(event), std::move(verdict)));
    }
    // The row of an input event. Below the first one that carries the helper's marker, a note
    // says what the marker is.
    void addEvent(double at, const sim::Event& event, std::string verdict = {}) {
        Row eventRow = row(at, describeEvent(event), std::move(verdict));
        if (event.userData == marker && !markerShown) {
            eventRow.message = markerNote;
            markerShown = true;
        }
        rows.push_back(std::move(eventRow));
    }

    void startUp();
    void timerTicks(double until);
    void runStep(std::size_t index);
    void inputStep(std::size_t index);
    std::vector<Reentry> reentries(const std::vector<const Entry*>& effects);
    bool releasedBefore(std::size_t index, const std::vector<const Entry*>& effects) const;
    void joinHold(std::size_t index);
    bool takeSwallowedUp(KeyCode key);
    void stop(double at, std::string words);
    void release(const std::vector<const Entry*>& effects, double at, std::string_view reason,
                 const std::vector<Reentry>& copies = {});
    void closeHold(std::optional<double> at, Ending ending, std::string words);
    void closeQuietly(std::optional<double> at);
    std::string unreleased(const sim::Event& event, Ending ending) const;
    std::optional<ParentLine> parentRow(const Entry& entry);
    void showEntry(const Entry& entry);
};

std::vector<Row> Timeline::build() {
    startUp();
    for (std::size_t index = 0; index < scenario.steps.size() && !ended; ++index) {
        timerTicks(scenario.steps[index].at);
        runStep(index);
    }
    // Without a stop step the parent closes standard input some time after the last step: the
    // exit status is stamped with that time.
    if (!ended && !transcript.empty() && transcript.back().kind == Entry::Kind::exit) {
        timerTicks(transcript.back().at);
        stop(transcript.back().at, implicitStopWords);
    }
    while (peek())
        showEntry(take());
    return std::move(rows);
}

// Start-up ends with "ready", or with a permission message and the exit status.
void Timeline::startUp() {
    while (peek() && peek()->kind == Entry::Kind::out) {
        const std::optional<ParentLine> line = parentRow(take());
        if (line && line->event == "ready") return;
    }
    if (peek() && peek()->kind == Entry::Kind::exit) showEntry(take());
}

// Entries before `until` that no step caused: the stale-hold timer's releases.
void Timeline::timerTicks(double until) {
    while (peek() && peek()->kind != Entry::Kind::exit && peek()->at < until) {
        const double at = peek()->at;
        std::vector<const Entry*> effects;
        while (peek() && peek()->kind != Entry::Kind::exit && peek()->at == at)
            effects.push_back(&take());
        release(effects, at, " (timed out)");
    }
}

void Timeline::runStep(std::size_t index) {
    const Step& step = scenario.steps[index];
    switch (step.kind) {
    case Step::Kind::input:
        inputStep(index);
        return;
    case Step::Kind::frontmost:
        frontmost = step.pid;
        break;
    case Step::Kind::failCopies:
        copiesFail = copiesFail || step.count > 0;
        break;
    case Step::Kind::trusted:
        break;
    case Step::Kind::stop:
        stop(step.at, describeWorldStep(step));
        return;
    }
    add(step.at, describeWorldStep(step));
}

void Timeline::inputStep(std::size_t index) {
    const Step& step = scenario.steps[index];
    const sim::Event& event = step.event;
    // What the filter did before it answered, then its answer.
    std::vector<const Entry*> effects;
    const Entry* verdict = nullptr;
    while (peek() && peek()->kind != Entry::Kind::exit && peek()->at == step.at) {
        const Entry& entry = take();
        if (entry.kind == Entry::Kind::verdict && entry.step == static_cast<std::int64_t>(index)) {
            verdict = &entry;
            break;
        }
        effects.push_back(&entry);
    }
    if (!verdict) {
        addEvent(step.at, event);
        release(effects, step.at, "");
        // The process ended inside the callback: a tap turned off without the permissions left.
        if (peek() && peek()->kind == Entry::Kind::exit) {
            closeQuietly(step.at);
            showEntry(take());
        }
        return;
    }
    std::optional<Pid> receiver;
    if (peek() && peek()->kind == Entry::Kind::deliver && peek()->step == verdict->step)
        receiver = take().pid;
    const std::vector<Reentry> copies = reentries(effects);
    if (isTapDisabled(event.type)) {
        // The filter releases whatever is held, enables the tap again and says "ready".
        addEvent(step.at, event);
        release(effects, step.at, "", copies);
        closeQuietly(step.at);
        return;
    }
    if (verdict->verdict == Verdict::pass) {
        // A hold released before the event was looked at, because it had gone stale or a click
        // came from elsewhere; and since only the helper's own events pass while something is
        // held, nothing is held now.
        release(effects, step.at, "", copies);
        if (event.userData != marker) closeQuietly(std::nullopt);
        addEvent(step.at, event, receiver ? passedTo(*receiver) : "passed");
        return;
    }
    if (event.type == types::keyUp && takeSwallowedUp(event.key)) {
        addEvent(step.at, event, "swallowed (rest of the trigger)");
        release(effects, step.at, "", copies);
        return;
    }
    const bool before = releasedBefore(index, effects);
    if (before) release(effects, step.at, "", copies);
    // A hold that posted nothing (no application in front, failed copies) ends unseen.
    if (hold.open && canStartHold(event) && stale(step.at)) closeQuietly(std::nullopt);
    joinHold(index);
    if (!before) release(effects, step.at, "", copies);
}

// The copies posted through the hardware stream pass the tap again right after the callback.
std::vector<Reentry> Timeline::reentries(const std::vector<const Entry*>& effects) {
    std::vector<Reentry> copies;
    for (const Entry* post : effects) {
        if (post->kind != Entry::Kind::postHID) continue;
        if (!peek() || peek()->kind != Entry::Kind::verdict || peek()->step != post->step) break;
        Reentry copy{take().verdict, std::nullopt};
        if (peek() && peek()->kind == Entry::Kind::deliver && peek()->step == post->step)
            copy.pid = take().pid;
        copies.push_back(copy);
    }
    return copies;
}

// Whether the replay in `effects` released a hold before the filter looked at the event, which
// then begins a hold of its own: the old hold had gone stale, or another application had come to
// the front. A replay that holds the event itself was caused by it.
bool Timeline::releasedBefore(std::size_t index, const std::vector<const Entry*>& effects) const {
    if (!canStartHold(scenario.steps[index].event)) return false;
    if (hold.open && !stale(scenario.steps[index].at)) return false;
    bool replay = false;
    for (const Entry* entry : effects) {
        if (isPost(*entry) && entry->step == static_cast<std::int64_t>(index)) return false;
        if (entry->kind == Entry::Kind::postProcess) replay = true;
    }
    return replay;
}

void Timeline::joinHold(std::size_t index) {
    const Step& step = scenario.steps[index];
    Row member = row(step.at, describeEvent(step.event), posted[index] ? "withheld" : "");
    if (!hold.open) {
        hold = Hold();
        hold.open = true;
        hold.pid = frontmost;
        member.bracket = Bracket::open;
    }
    if (isPlainKeyDown(step.event)) hold.lastKeyDown = step.at;
    hold.steps.push_back(index);
    hold.rows.push_back(rows.size());
    rows.push_back(std::move(member));
}

bool Timeline::takeSwallowedUp(KeyCode key) {
    const auto found = std::ranges::find(swallowedUps, key);
    if (found == swallowedUps.end()) return false;
    swallowedUps.erase(found);
    return true;
}

// A stop releases what is held and ends the process.
void Timeline::stop(double at, std::string words) {
    add(at, std::move(words));
    std::vector<const Entry*> effects;
    while (peek() && peek()->kind != Entry::Kind::exit)
        effects.push_back(&take());
    release(effects, at, " (at the stop)");
    closeQuietly(at);
    if (peek()) showEntry(take());
}

// Shows the release of the hold in `effects`, if any, and the parent's lines among them.
void Timeline::release(const std::vector<const Entry*>& effects, double at, std::string_view reason,
                       const std::vector<Reentry>& copies) {
    bool replayed = false, reposted = false, recognised = false;
    Pid pid = 0;
    for (const Entry* entry : effects) {
        if (entry->kind == Entry::Kind::postProcess) {
            replayed = true;
            pid = entry->pid;
        }
        reposted = reposted || entry->kind == Entry::Kind::postHID;
        if (entry->kind == Entry::Kind::out) {
            const std::optional<ParentLine> line = readParentLine(entry->text);
            recognised = recognised || (line && line->event == "dispatch-date");
        }
    }
    if (recognised) {
        const std::string modifiers =
            replayed ? ", modifier changes replayed to " + std::to_string(pid) : "";
        closeHold(at, Ending::recognised, "trigger recognised" + modifiers);
    } else if (reposted) {
        closeHold(at, Ending::reposted, "re-posted at HID" + afterRepost(copies));
    } else if (replayed) {
        closeHold(at, Ending::replayed, "replayed to " + std::to_string(pid) + std::string(reason));
    }
    // A replayed copy's delivery is what "replayed to" says.
    for (std::size_t i = 0; i < effects.size(); ++i) {
        const Entry& entry = *effects[i];
        const bool replayDelivery = entry.kind == Entry::Kind::deliver && i > 0 &&
                                    effects[i - 1]->kind == Entry::Kind::postProcess &&
                                    effects[i - 1]->step == entry.step &&
                                    effects[i - 1]->pid == entry.pid;
        if (!isPost(entry) && !replayDelivery) showEntry(entry);
    }
}

void Timeline::closeHold(std::optional<double> at, Ending ending, std::string words) {
    if (!hold.open) {
        // A release whose hold the walk did not see begin still shows, unbracketed.
        if (ending != Ending::quiet) add(at, std::move(words));
        return;
    }
    std::vector<KeyCode> down; // the keys pressed in the hold and not released in it
    for (std::size_t i = 0; i < hold.steps.size(); ++i) {
        const sim::Event& event = scenario.steps[hold.steps[i]].event;
        if (event.type == types::keyDown && std::ranges::find(down, event.key) == down.end())
            down.push_back(event.key);
        if (event.type == types::keyUp) std::erase(down, event.key);
        Row& member = rows[hold.rows[i]];
        if (member.verdict.empty()) member.verdict = unreleased(event, ending);
    }
    if (ending == Ending::recognised)
        for (const KeyCode key : down)
            if (std::ranges::find(swallowedUps, key) == swallowedUps.end())
                swallowedUps.push_back(key);
    hold = Hold();
    rows.push_back(Row{at, Bracket::close, std::move(words), {}, {}});
}

// Ends a hold whose events were never posted back, where one is open.
void Timeline::closeQuietly(std::optional<double> at) {
    if (!hold.open) return;
    std::string words = "ended, nothing to replay";
    if (hold.pid == 0) {
        words = "dropped: no application was in front";
    } else if (copiesFail) {
        words = "nothing to replay: the copies failed";
    }
    closeHold(at, Ending::quiet, std::move(words));
}

// What became of an event of a hold that no copy of was ever posted.
std::string Timeline::unreleased(const sim::Event& event, Ending ending) const {
    if (ending == Ending::recognised && event.type != types::flagsChanged) return "swallowed";
    // A click or scroll in a hold is dropped only to be re-posted: its copy failed.
    if (isPointer(event.type)) return "lost (copy failed)";
    if (ending != Ending::reposted && hold.pid == 0) return "dropped (no application in front)";
    if (copiesFail) return "lost (copy failed)";
    return "dropped";
}

std::optional<ParentLine> Timeline::parentRow(const Entry& entry) {
    std::optional<ParentLine> line = readParentLine(entry.text);
    if (!line) {
        add(entry.at, "parent gets " + quotedText(entry.text));
        return line;
    }
    Row parent = row(entry.at, "parent gets " + quotedText(line->event));
    parent.message = line->message;
    rows.push_back(std::move(parent));
    return line;
}

// Shows one entry as it is: a parent line, the exit status, or an entry outside the shapes the
// walk knows, which is shown rather than left out.
void Timeline::showEntry(const Entry& entry) {
    const std::string step = "copy of step " + std::to_string(entry.step);
    switch (entry.kind) {
    case Entry::Kind::out:
        parentRow(entry);
        return;
    case Entry::Kind::postProcess:
        add(entry.at, step + " replayed to " + std::to_string(entry.pid));
        return;
    case Entry::Kind::postHID:
        add(entry.at, step + " re-posted at HID");
        return;
    case Entry::Kind::verdict:
        add(entry.at, step, entry.verdict == Verdict::pass ? "passed" : "dropped");
        return;
    case Entry::Kind::deliver:
        add(entry.at, step, "received by " + std::to_string(entry.pid));
        return;
    case Entry::Kind::exit:
        add(entry.at, "exit " + std::to_string(entry.status));
        ended = true;
        return;
    }
}

} // namespace

std::string formatTimeline(const Scenario& scenario, const std::vector<Entry>& transcript) {
    return layoutTimeline(Timeline(scenario, transcript).build());
}

} // namespace qk
