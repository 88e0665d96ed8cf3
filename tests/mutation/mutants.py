#!/usr/bin/env python3
"""Deliberate faults, put into the engine one at a time, to see that the tests catch each of them.

    tests/mutation/mutants.py BUILD_DIR [NAME...]

For each fault: the source is changed, the test programs rebuilt, the core tests, the command line's
tests and the window tests run; the fault must make at least one test fail. The source is put back
whatever happens. Not run by CI (it builds ten times); run it after changing the safety rules.
"""
import os, subprocess, sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# name: (file, text as it is, text with the fault)
MUTANTS = {
    "exchange-replaced-by-check-then-rename": (
        "src/core/platform/placement.cpp",
        "        if (renameAt(dir, held.name(), dir, name, RENAME_EXCHANGE) == 0)\n"
        "            return afterExchange(dir, held, name, expected, old, capabilities);",
        "        if (::renameat(dir, held.name().c_str(), dir, name.c_str()) == 0) {\n"
        "            held.release();\n"
        "            return {};\n"
        "        }"),
    "changed-since-planning-ignores-the-size": (
        "src/core/platform/file_stamp.h",
        "        return size == other.size && modifiedTime == other.modifiedTime &&",
        "        return modifiedTime == other.modifiedTime &&"),
    "times-matched-without-the-two-second-step": (
        "src/core/planning/plan_support.h",
        "(!c.time || a.timeStepOf(i) == b.timeStepOf(j))",
        "(!c.time || a.modifiedTime(i) == b.modifiedTime(j))"),
    "deletion-guard-refuses-its-own-bound": (
        "src/core/planning/deletion_guard.cpp",
        "            ? deletions > std::size_t(bound.value)\n"
        "            : side.files >= kGuardMinimumFiles && deletions * 100 > side.files * std::size_t(bound.value);",
        "            ? deletions >= std::size_t(bound.value)\n"
        "            : side.files >= kGuardMinimumFiles && deletions * 100 >= side.files * std::size_t(bound.value);"),
    "an-item-runs-though-the-item-it-depends-on-failed": (
        "src/core/execution/executor.cpp",
        "        if (const std::string why = outcomes_.blocked(item, actions_); !why.empty()) {",
        "        if (const std::string why = outcomes_.blocked(item, actions_); false && !why.empty()) {"),
    "a-delete-ignores-the-planned-stamp": (
        "src/core/platform/file_ops.cpp",
        "    if (planned && (S_ISDIR(st.st_mode) || !sameFileOn(capabilities, stampOf(st), *planned)))",
        "    if (planned && S_ISDIR(st.st_mode))"),
    "a-move-replaces-its-destination": (
        "src/core/platform/file_ops.cpp",
        "        if (renameNoReplace(fromDir, source, toDir, destination) == 0)",
        "        if (::renameat(fromDir, source, toDir, destination) == 0)"),
    "a-new-copy-replaces-what-appeared": (
        "src/core/platform/placement.cpp",
        "    const FsResult moved = moveNoReplaceAt(dir, held.name(), dir, name, capabilities);\n"
        "    if (moved.ok()) {\n"
        "        held.release();\n"
        "        return {};\n"
        "    }\n"
        "    return failure(moved.error == EEXIST ? takenReason(dir, name) : moved.error);",
        "    if (::renameat(dir, held.name().c_str(), dir, name.c_str()) == 0) {\n"
        "        held.release();\n"
        "        return {};\n"
        "    }\n"
        "    return failure(errno);"),
    "what-a-could-not-see-is-deleted-in-b": (
        "src/core/planning/backup_planner.cpp",
        "    void leaveAloneWhatAHides() {\n        if (blindA_.empty())",
        "    void leaveAloneWhatAHides() {\n        if (true || blindA_.empty())"),
    "a-duplicate-is-deleted-without-comparing-bytes": (
        "src/core/execution/executor.cpp",
        "        if (proof != DuplicateProof::Proven)",
        "        if (proof != DuplicateProof::Proven && proof != DuplicateProof::Different)"),
}

TARGETS = ["core_tests", "paritas-cli", "cli_tests", "gui_review_window_test", "gui_analyse_test",
           "gui_run_window_test", "gui_job_list_window_test"]
GUI_TESTS = ["gui_review_window_test", "gui_analyse_test", "gui_run_window_test", "gui_job_list_window_test"]


def run(cmd, **kw):
    return subprocess.run(cmd, cwd=ROOT, capture_output=True, text=True, **kw)


def failing_tests(build):
    env = dict(os.environ, TZ="UTC", LC_ALL="C", QT_QPA_PLATFORM="offscreen")
    failed = []
    # The tests against servers (rclone, sshd) and mounted file systems take minutes and reach none of
    # these faults' code paths on a local folder; they are left out here.
    slow = "-Backends/*:*Remote*:*Rclone*:*FolderMove*:*FileSystem*:*Mounted*"
    for program, tag in (("tests/core/core_tests", ""), ("tests/cli/cli_tests", "cli:")):
        out = run([os.path.join(build, program), "--gtest_brief=1", "--gtest_filter=" + slow], env=env)
        failed += [tag + l.split("]", 1)[1].strip().split(" ")[0] for l in out.stdout.splitlines()
                   if l.startswith("[  FAILED  ]") and "listed below" not in l and "FAILED TEST" not in l]
    for gui in GUI_TESTS:
        out = run([os.path.join(build, "tests/gui", gui)], env=env)
        failed += [gui + ":" + l.split("::", 1)[1].split("(")[0] for l in out.stdout.splitlines()
                   if l.startswith("FAIL!")]
    return failed


def main():
    build = os.path.abspath(sys.argv[1])
    names = sys.argv[2:] or list(MUTANTS)
    survivors = []
    for name in names:
        path, before, after = MUTANTS[name]
        full = os.path.join(ROOT, path)
        original = open(full).read()
        if before not in original:
            print(f"{name}: the text to change is not in {path} any more; update the mutant")
            survivors.append(name)
            continue
        try:
            open(full, "w").write(original.replace(before, after, 1))
            built = run(["cmake", "--build", build, "-j2", "--target"] + TARGETS)
            if built.returncode != 0:
                print(f"{name}: does not build\n{built.stdout[-2000:]}")
                survivors.append(name)
                continue
            failed = failing_tests(build)
        finally:
            open(full, "w").write(original)
        window = [f for f in failed if f.startswith("gui_")]
        print(f"{name}: {len(failed)} failing ({len(window)} in the window's tests): {', '.join(failed[:6])}")
        if not failed:
            survivors.append(name)
    run(["cmake", "--build", build, "-j2", "--target"] + TARGETS)
    print("survivors: " + (", ".join(survivors) if survivors else "none"))
    return 1 if survivors else 0


if __name__ == "__main__":
    sys.exit(main())
