"""Type stubs for _quorvel: directives `ACTION:[<KIND>]NAME[@PATH][=NOTE]`."""
from typing import Dict, FrozenSet, Iterator, List, NoReturn, Optional, Protocol, Set, SupportsIndex, Tuple, TypeVar, Union, final

__all__ = ["parse", "glob_match", "expand", "lint_fold", "lint_settings", "Directive", "Ladder", "DirectiveError"]

_T_co = TypeVar("_T_co", covariant=True)

class _Items(Protocol[_T_co]):
    """What the module reads as a list: any sequence but a str (a list, a tuple, ...).

    A str is a sequence too, and the module refuses it; it does not fit here
    because its `__contains__` takes only a str, where this takes any object.
    """
    def __len__(self) -> int: ...
    def __getitem__(self, index: int, /) -> _T_co: ...
    def __contains__(self, item: object, /) -> bool: ...
    def __iter__(self) -> Iterator[_T_co]: ...

# What the module reads as a set: a set or a frozenset of str (a list or a str is refused).
_StrSet = Union[Set[str], FrozenSet[str]]

class DirectiveError(ValueError): ...

@final
class Directive:
    # Directives come only from parse() and expand(): calling the class is refused,
    # and a parameter that no value can fill makes every call a type error.
    def __new__(cls, __never: NoReturn) -> Directive: ...
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
        names: _Items[str],
        *,
        qualifier: Optional[str] = None,
        scopes: Optional[_Items[str]] = None,
    ) -> bool: ...

@final
class Ladder:
    def __new__(cls, levels: _Items[str]) -> Ladder: ...
    def position(self, level: str) -> Optional[int]: ...
    def step(self, level: str, delta: SupportsIndex) -> str: ...
    @property
    def levels(self) -> List[str]: ...
    def fold(
        self,
        current: str,
        directives: _Items[Directive],
        names: _Items[str],
        *,
        qualifier: Optional[str] = None,
        scopes: Optional[_Items[str]] = None,
        steps: Optional[Dict[str, int]] = None,
        drop: Optional[_StrSet] = None,
        notes: bool = True,
    ) -> Tuple[str, bool, List[str]]: ...

def parse(spec: str, *, actions: Optional[_StrSet] = None) -> Directive: ...
def glob_match(pattern: str, text: str) -> bool: ...
def expand(value: str, *, actions: Optional[_StrSet] = None) -> List[Directive]: ...
def lint_fold(
    current: str,
    directives: _Items[Directive],
    names: _Items[str],
    *,
    qualifier: Optional[str] = None,
    scopes: Optional[_Items[str]] = None,
) -> Tuple[str, bool, List[str]]: ...
def lint_settings(directives: _Items[Directive]) -> List[Tuple[str, str]]: ...
