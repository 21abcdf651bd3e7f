// SPDX-License-Identifier: GPL-3.0-or-later
// Compiled only so that its target precompiles the window tests' headers.
