# The project's commands: deps, build, test, demo.
BUILD ?= build
NATIVE := $(BUILD)/native
WINDOWS := $(BUILD)/windows
JOBS ?= $(shell nproc)

.PHONY: deps build test demo configure clean screenshots

deps:
	bash scripts/install-deps.sh

$(NATIVE)/CMakeCache.txt:
	cmake --preset native -B $(NATIVE)

$(WINDOWS)/CMakeCache.txt:
	cmake --preset windows -B $(WINDOWS)

configure: $(NATIVE)/CMakeCache.txt $(WINDOWS)/CMakeCache.txt

build: configure
	cmake --build $(NATIVE) -j $(JOBS)
	cmake --build $(WINDOWS) -j $(JOBS)

# Both trees run, then the run fails if either failed. Windows tests run one at a
# time: they share the prefix's named objects and marker file. The Wine server of the
# tree's private prefix is stopped afterwards.
test: deps
	$(MAKE) build
	@status=0; \
	ctest --test-dir $(NATIVE) --output-on-failure -j $(JOBS) || status=1; \
	ctest --test-dir $(WINDOWS) --output-on-failure || status=1; \
	cmake/wine-run.sh $(abspath $(WINDOWS))/wineprefix --stop; \
	exit $$status

# Builds, then shows the stand-in appliance receiving idagent's logon, heartbeats and logoff.
demo: deps
	$(MAKE) build
	bash scripts/demo.sh $(BUILD)

clean:
	rm -rf $(NATIVE) $(WINDOWS)

# Reliability and speed checks of the protocol codec, the agent's readers of the
# configuration, of dscl and of id, and the tool's configuration language (not part of
# `make test`). Listings are fuzzed up to 1 MiB (the agent takes up to 16 MiB of them), and an
# input gets 2 s at the most: a reader slower than linear shows as a time-out at that length.
# Freed memory stays with the process: its return to the system can stall for seconds on a
# loaded machine and would show as a false time-out.
FUZZ_SECONDS ?= 60
FUZZ_TIMEOUT ?= 2
DSCL_FUZZ_LEN ?= 1048576
FUZZ_KEEP_MEMORY = ASAN_OPTIONS=allocator_release_to_os_interval_ms=-1
.PHONY: fuzz bench

fuzz: $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) --target packet_fuzzer config_fuzzer dscl_fuzzer id_fuzzer cfgtext_fuzzer -j $(JOBS)
	mkdir -p $(NATIVE)/fuzz-corpus $(NATIVE)/config-fuzz-corpus $(NATIVE)/dscl-fuzz-corpus $(NATIVE)/id-fuzz-corpus \
	  $(NATIVE)/cfgtext-fuzz-corpus
	$(NATIVE)/bin/packet_fuzzer -max_total_time=$(FUZZ_SECONDS) -max_len=65545 $(NATIVE)/fuzz-corpus Shared/fuzz/corpus
	$(NATIVE)/bin/config_fuzzer -max_total_time=$(FUZZ_SECONDS) -max_len=4096 -dict=Mac/fuzz/config.dict \
	  $(NATIVE)/config-fuzz-corpus Mac/fuzz/corpus
	$(FUZZ_KEEP_MEMORY) $(NATIVE)/bin/dscl_fuzzer -max_total_time=$(FUZZ_SECONDS) -max_len=$(DSCL_FUZZ_LEN) \
	  -timeout=$(FUZZ_TIMEOUT) -dict=Mac/fuzz/dscl.dict $(NATIVE)/dscl-fuzz-corpus Mac/tests/fixtures
	$(FUZZ_KEEP_MEMORY) $(NATIVE)/bin/id_fuzzer -max_total_time=$(FUZZ_SECONDS) -max_len=4096 -timeout=$(FUZZ_TIMEOUT) \
	  -dict=Mac/fuzz/id.dict $(NATIVE)/id-fuzz-corpus Mac/fuzz/id-corpus
	$(NATIVE)/bin/cfgtext_fuzzer -max_total_time=$(FUZZ_SECONDS) -max_len=4096 -dict=kitsmith/fuzz/cfgtext.dict \
	  $(NATIVE)/cfgtext-fuzz-corpus kitsmith/fuzz/corpus

# The codec alone (native); the agent's receive path beside the codec and a one-pass loop
# (Windows, under Wine); idle wake-ups and quit-to-exit beside a trivial Win32 program;
# the grid's filling, cell lookups and painting (under Wine).
bench: $(NATIVE)/CMakeCache.txt $(WINDOWS)/CMakeCache.txt
	cmake --build $(NATIVE) --target codec_bench appliance -j $(JOBS)
	$(NATIVE)/bin/codec_bench
	cmake --build $(WINDOWS) --target receive_bench idagent postmsg idlewindow grid_bench -j $(JOBS)
	cmake/wine-run.sh $(abspath $(WINDOWS))/wineprefix $(abspath $(WINDOWS))/bin/receive_bench.exe
	cmake/wine-run.sh $(abspath $(WINDOWS))/wineprefix $(abspath $(WINDOWS))/bin/grid_bench.exe
	bash scripts/bench-idle.sh $(BUILD)
	cmake --build $(NATIVE) --target QelIdentra pollloop -j $(JOBS)
	bash scripts/bench-mac.sh $(BUILD)

# Pictures of the windows for the README, taken under Xvfb (not part of `make test`).
screenshots: deps $(WINDOWS)/CMakeCache.txt
	cmake --build $(WINDOWS) --target screenshots -j $(JOBS)
	bash scripts/screenshots.sh $(WINDOWS)
