# The two commands of the README: `make run` and `make test`.
BUILD ?= build
JOBS ?= $(shell nproc)
# make test also fuzzes the line parse for this long, then runs the unit and
# GUI tests again built with the sanitizers, and the loader's under ThreadSanitizer
# (SANITIZE=0 leaves that out).
FUZZ_SECONDS ?= 60
SANITIZE ?= 1

.PHONY: setup configure build run test ctest fuzz sanitize soak bench format-check clean

setup:
	@scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOST_WERROR=ON >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run.sh $(BUILD)

# One after the other, also under make -j: each keeps the two cores of a
# test machine busy.
test: build
	@$(MAKE) --no-print-directory format-check
	@$(MAKE) --no-print-directory ctest
	@$(MAKE) --no-print-directory fuzz
	@if [ "$(SANITIZE)" != 0 ]; then $(MAKE) --no-print-directory sanitize; fi

# GUI tests need an X display: a virtual one where there is none.
ctest: build
	@if [ -n "$$DISPLAY" ]; then \
	  cd $(BUILD) && ctest --output-on-failure -j $(JOBS); \
	else \
	  xvfb-run -a -s "-screen 0 1280x1024x24" sh -c 'cd $(BUILD) && ctest --output-on-failure -j $(JOBS)'; \
	fi

# The code follows .clang-format.
format-check: setup
	@git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

# A longer search: make fuzz FUZZ_SECONDS=3600 (or fuzz/run.sh 3600).
fuzz: setup
	@FUZZ_DIR=$(BUILD)/fuzz fuzz/run.sh $(FUZZ_SECONDS)

sanitize: setup
	@JOBS=$(JOBS) scripts/sanitize.sh $(BUILD)-asan
	@JOBS=$(JOBS) scripts/sanitize-threads.sh $(BUILD)-tsan

# Ten minutes of frames and edits on the real program, watching its memory.
soak: build
	@scripts/soak.sh $(BUILD)

bench: setup
	@cmake -S . -B $(BUILD) -DVOST_BENCHMARKS=ON >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)
	@scripts/bench.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-tsan

# Installing and packaging use a Release build of the program alone.
RELEASE ?= build-release
PREFIX ?= /usr/local

.PHONY: release install package package-test

release: setup
	@cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DVOST_WERROR=ON >/dev/null
	@cmake --build $(RELEASE) -j $(JOBS)

# make install PREFIX=~/.local for one user; DESTDIR stages it elsewhere.
install: release
	@DESTDIR="$(DESTDIR)" cmake --install $(RELEASE) --prefix $(PREFIX)

package: release
	@rm -f $(RELEASE)/vost_*.deb
	@cd $(RELEASE) && cpack -G DEB >/dev/null
	@ls $(RELEASE)/vost_*.deb

# The package's files, its dependencies and lintian, and its program run with
# a sample (tests/install/check.sh).
package-test: package
	@tests/install/check.sh $(RELEASE)
