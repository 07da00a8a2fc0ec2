# The two commands of the README: `make run` and `make test`. Each installs what is
# missing, configures, builds, and then starts the GUI or runs the whole suite.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# ccache, when present, makes rebuilds in several checkouts of the tree cheap.
LAUNCHER := $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
export CCACHE_BASEDIR ?= $(CURDIR)

.PHONY: all setup configure build run test bench sanitize fuzz clean package

all: build

setup:
	@./scripts/setup

configure: setup
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPEMRA_WERROR=ON $(LAUNCHER) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@if [ -x $(BUILD)/src/gui/pemra-eval ]; then $(BUILD)/src/gui/pemra-eval --simulate; \
	else echo "pemra-eval is not built yet: the main window arrives with a later change."; fi

test: build
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# Benchmarks measure the optimised program: a Release build of their own in build-bench.
bench: setup
	@cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release $(LAUNCHER) $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-bench -j $(JOBS) --target benchmarks
	@for b in build-bench/bench_*; do [ -x "$$b" ] && [ -f "$$b" ] && "$$b"; done; true

# The Debian package pemra_<version>_<arch>.deb, put at the top of the tree
# (then: sudo apt install ./pemra_*.deb).
package: build
	@rm -f $(BUILD)/pemra_*.deb pemra_*.deb
	@cd $(BUILD) && cpack -G DEB >/dev/null
	@cp $(BUILD)/pemra_*.deb . && ls pemra_*.deb

# The same suite under address and undefined-behaviour sanitizers.
sanitize: setup
	@cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPEMRA_WERROR=ON -DPEMRA_SANITIZE=ON -DPEMRA_BUILD_BENCH=OFF $(LAUNCHER) >/dev/null
	@cmake --build build-asan -j $(JOBS)
	@cd build-asan && LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The fuzz harnesses of fuzz/ under libFuzzer (needs clang), each for FUZZ_SECONDS from the
# seed corpus; what they find new is kept in build-fuzz/corpus-NAME. The seed corpus itself
# is replayed by `make test` and `make sanitize` with any compiler.
FUZZ_SECONDS ?= 60
fuzz: setup
	@cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DPEMRA_FUZZ=ON -DPEMRA_BUILD_GUI=OFF -DPEMRA_BUILD_BENCH=OFF $(LAUNCHER) >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target fuzz_config fuzz_numbers fuzz_script fuzz_log fuzz_userdirs fuzz_logreader
	@for n in config numbers script log userdirs logreader; do mkdir -p build-fuzz/corpus-$$n; \
	  echo "fuzz_$$n:"; \
	  build-fuzz/fuzz/fuzz_$$n -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    build-fuzz/corpus-$$n fuzz/corpus/$$n > build-fuzz/fuzz_$$n.log 2>&1; status=$$?; \
	  grep -E "number_of_executed_units|^Done|ERROR|property" build-fuzz/fuzz_$$n.log; \
	  [ $$status -eq 0 ] || { echo "fuzz_$$n failed: see build-fuzz/fuzz_$$n.log"; exit 1; }; done

clean:
	@rm -rf $(BUILD) build-asan build-fuzz build-bench
