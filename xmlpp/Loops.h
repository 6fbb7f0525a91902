#pragma once

// The loop directives <for> and <foreach>: copies of the body, expanded with the loop variables,
// are inserted after the loop element, which is then removed, so the walk goes on with the first
// copy in the enclosing scope. The last iteration needs no copy: the body itself is handed over
// with its loop maps (LoopMaps.h). A for loop whose copies are complete as made inserts one
// iteration's copies at a time before itself, and goes on when the walk meets it again: copies
// that left nothing behind give their memory to the next, so a loop of conditions that are
// mostly false does not keep every iteration in memory.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "WalkScope.h"
#include "xmlpp/Directives.h"

class Loops {
 public:
  explicit Loops(WalkScope& scope) : scope_(scope) {}

  // Decides for the step's element, a directive of this group.
  Decision decide(DirectiveId directive, Step& step);
  // Whether `element` is a for loop that goes on: the walk meets it again after the copies of
  // its last iteration.
  bool goesOn(const XMLElement* element) const {
    return !forLoops_.empty() && forLoops_.back()->element == element;
  }
  // The node before the copies of the iteration being walked, in the loop's chain.
  const XMLNode* copiesBefore() const { return forLoops_.back()->before; }
  // The walk meets the loop that goes on again. `leftNothing`: the copies of its last iteration
  // left nothing in the chain (or what they left went to the output); `before` is the node
  // before the loop now.
  Decision resume(Step& step, bool leftNothing, const XMLNode* before);

 private:
  // The expansions of a loop body's values with the loop's iteration table, prepared by the first
  // copy for every later one: each copy meets the same values in the same order. Only the body
  // of a loop without loop maps around it is expanded with that table alone and can use them.
  struct PreparedValues {
    struct Entry {
      bool hasReferences;                          // without, the copy shares the value
      std::optional<PreparedExpansion> expansion;  // nothing: the value needs the full expansion
      bool final;  // the value as copied holds no "$": the walk need not expand it again
    };
    // One for each value, in the order a copy meets them.
    std::vector<Entry> entries;
    std::size_t next = 0;  // the entry of the next value the copy being made meets
    // Whether the table's values never hold a "$" (those of a for loop: numbers and letters).
    bool plainValues = false;
    // Whether a copy expands something with the whole table: a value that needs the full
    // expansion, or kept text.
    bool wholeTable = false;
    // Whether the copies write `value`, one of the table's values (wholeTable: they may).
    bool write(const std::string* value) const {
      if (wholeTable) return true;
      for (const Entry& entry : entries) {
        if (entry.expansion && entry.expansion->writes(value)) return true;
      }
      return false;
    }
  };
  // A for loop between its iterations (see the top of this file).
  struct ForLoop {
    XMLElement* element;
    MacroTable iteration;
    std::string* value;  // the loop variables in `iteration`
    std::string* alpha;
    std::string* hex;
    std::string* ap;
    std::string* apHex;
    std::uint32_t counter;
    std::uint32_t apCounter;
    std::uint32_t end;
    std::uint32_t increment;
    std::uint32_t apIncrement;
    // The number of iterations, or any number above 2^24 when there are more (iterationCount).
    std::uint64_t planned;
    // Which variables each iteration sets. All of them at first; once the first copy has been
    // prepared, only those its values write, when nothing else reads the table: the listener
    // and a body expanded through loop maps read every variable. (The body the last iteration
    // hands over holds the same values, so its loop maps are read for the same variables.)
    bool setValue = true, setAlpha = true, setHex = true, setAp = true, setApHex = true;
    bool narrowed = false;
    bool counted = false;  // `value` holds the decimal digits of the counter before the last step
    std::uint64_t iterations = 0;  // told to the listener
    bool rehearsed = false;        // the listener was told of every iteration (rehearse)
    PreparedValues prepared;
    // Where the copies of the iteration being walked began: the arena, the node before them in
    // the chain and the count of lasting effects. Not for the first iteration, whose copies were
    // made with the prepared values: they are never used again.
    bool copiesMarked = false;
    Arena::Mark copiesStart{};
    const XMLNode* before = nullptr;
    std::uint64_t effects = 0;
  };

  Decision decideFor(Step& step);
  Decision decideForeach(Step& step);
  // Sets the loop variables of the next iteration and steps the counters; true for the last.
  static bool advance(ForLoop& loop);
  // Tells the listener what making every copy of the loop at once would: each iteration and the
  // references its copies expand (copies made and dropped), then the loop's line; the counters
  // are then set back. Fails as making those copies would.
  Failure rehearse(const Step& step, ForLoop& loop);
  // Makes the loop's next iterations: all that are left, or one when the loop can go on later.
  Decision iterateFor(Step& step, ForLoop& loop);
  // Inserts the loop body's elements after `*insertionPoint`, advancing it: copies expanded with
  // `iteration`, or for the last iteration the body itself, handed over with its loop maps. What
  // the chain's frame must list goes to `handedOver`, in insertion order. `tell`: the listener
  // hears of the references the copies expand.
  Failure insertBody(const Step& step, MacroTable& iteration, bool last, bool tell,
                     XMLNode** insertionPoint, std::vector<HandedOver>& handedOver,
                     PreparedValues& prepared);
  // A value of the body expanded with `iteration` alone, prepared once: as expandWithLoopMaps
  // with no maps gives it. Clears `final` unless the value is known to hold no "$".
  std::optional<std::string_view> expandPrepared(PreparedValues& prepared, std::string_view value,
                                                 const MacroTable& iteration, bool& final);
  // A detached deep copy of `body` and its element descendants, every attribute value expanded
  // with the step's loop maps and then `iteration` (with `prepared`, when given, for a step
  // without maps); `tell`: the listener hears of the references expanded.
  Expected<XMLElement*> copyWithMacros(const Step& step, const XMLElement* body,
                                       const MacroTable& iteration, PreparedValues* prepared,
                                       bool tell);
  // Tells the listener of the references a copy of `body` expanded with the loop variables.
  [[gnu::noinline]] void tellCopyReferences(const Step& step, const XMLElement* body,
                                            const MacroTable& iteration);

  WalkScope& scope_;
  // The for loops being made, innermost last: the walk meets those that go on in this order.
  std::vector<std::unique_ptr<ForLoop>> forLoops_;
};
