#pragma once

// The conditional directives: <if>, <ifnot>, <ifex>, <ifdef>, <ifndef> and <switch>. A condition
// that holds replaces the directive by its processed children; one that fails removes it.

#include "DirectiveChecks.h"
#include "WalkScope.h"
#include "xmlpp/Directives.h"

class Conditionals {
 public:
  Conditionals(WalkScope& scope, DirectiveChecks& checks) : scope_(scope), checks_(checks) {}

  // Decides for the step's element, a directive of this group.
  Decision decide(DirectiveId directive, Step& step);

 private:
  template <bool kListened>
  Decision decideIf(const Step& step, bool negated);
  Decision decideIfex(const Step& step);
  Decision decideIfdef(const Step& step, bool negated);
  Decision decideSwitch(Step& step);
  [[gnu::noinline]] void tellCondition(const Step& step, DirectiveId directive, bool taken,
                                       std::string_view attribute, std::string_view name);
  [[gnu::noinline]] void tellIf(const Step& step, bool negated, bool taken);
  [[gnu::noinline]] void tellSwitch(const Step& step, std::string_view name,
                                    const XMLElement* chosen, bool chosenDefault);

  WalkScope& scope_;
  DirectiveChecks& checks_;
};
