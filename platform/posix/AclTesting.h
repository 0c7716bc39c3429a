#pragma once
// Test hook of the Linux access-list calls (NTACL.h).

namespace sv {

// From now on every write of a folder's default ACL fails with `error` (0: works again),
// after the access ACL was written: a grant that fails half-way. Not for concurrent use.
void FailInheritedAclWriteForTesting(int error);

}  // namespace sv
