// linkDown and linkUp (RFC 2863 6): the trap generator "link-events" and the
// trap maker that builds the two traps.
#pragma once

// Appends the trap maker to trapMakers and the generator to scribers. While
// an operator has the generator selected it follows the interface service's
// change notifications; an interface whose operational status enters or
// leaves down(2), and whose ifLinkUpDownTrapEnable is enabled(1), becomes a
// trap request to the agent, which the maker turns into the trap.
void registerLinkEvents();
