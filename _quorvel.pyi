"""Type stubs for _quorvel: directives `ACTION:[<KIND>]NAME[@PATH][=NOTE]`."""
from typing import AbstractSet, Dict, List, Optional, Sequence, Tuple, final

__all__ = ["parse", "glob_match", "expand", "lint_fold", "lint_settings", "Directive", "Ladder", "DirectiveError"]

class DirectiveError(ValueError): ...

@final
class Directive:
    @property
    def action(self) -> str: ...
    @property
    def kind(self) -> Optional[str]: ...
    @property
    def name(self) -> str: ...
    @property
    def path(self) -> Optional[str]: ...
    @property
    def note(self) -> Optional[str]: ...
    def matches(
        self,
        names: Sequence[str],
        *,
        qualifier: Optional[str] = None,
        scopes: Optional[Sequence[str]] = None,
    ) -> bool: ...

@final
class Ladder:
    def __new__(cls, levels: Sequence[str]) -> "Ladder": ...
    def position(self, level: str) -> Optional[int]: ...
    def step(self, level: str, delta: int) -> str: ...
    @property
    def levels(self) -> List[str]: ...
    def fold(
        self,
        current: str,
        directives: Sequence[Directive],
        names: Sequence[str],
        *,
        qualifier: Optional[str] = None,
        scopes: Optional[Sequence[str]] = None,
        steps: Optional[Dict[str, int]] = None,
        drop: Optional[AbstractSet[str]] = None,
        notes: bool = True,
    ) -> Tuple[str, bool, List[str]]: ...

def parse(spec: str, *, actions: Optional[AbstractSet[str]] = None) -> Directive: ...
def glob_match(pattern: str, text: str) -> bool: ...
def expand(value: str, *, actions: Optional[AbstractSet[str]] = None) -> List[Directive]: ...
def lint_fold(
    current: str,
    directives: Sequence[Directive],
    names: Sequence[str],
    *,
    qualifier: Optional[str] = None,
    scopes: Optional[Sequence[str]] = None,
) -> Tuple[str, bool, List[str]]: ...
def lint_settings(directives: Sequence[Directive]) -> List[Tuple[str, str]]: ...
