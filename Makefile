# The README's commands. `make test` is what CI runs.
JOBS ?= $(shell nproc)
# `make bench BENCH_FILTER='Store|Migrate'` runs only the matching benchmarks.
BENCH_FILTER ?= .
# `make install` puts the program under PREFIX, staged under DESTDIR when that is given.
PREFIX ?= /usr/local
DESTDIR ?=
SOURCES = $(shell git ls-files -co --exclude-standard -- 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'bench/*.h' 'fuzz/*.cpp' 'fuzz/*.h')

.PHONY: setup configure build test check-layers check-format check-translations format release \
	bench fuzz run install clean

setup:
	./scripts/setup

# Qt's automatic moc can keep a stale list of a library's headers when files arrive through a
# rebase or merge, which ends in link errors for new Q_OBJECT classes; its output is thrown away
# whenever the set of source files changed since the last build.
SOURCE_SET = $(shell git ls-files -co --exclude-standard -- '*.h' '*.cpp' | sha1sum | cut -c1-40)

configure:
	@if [ -d build ] && [ "$$(cat build/.source-set 2>/dev/null)" != "$(SOURCE_SET)" ]; then \
	  find build -name '*_autogen' -type d -prune -exec rm -rf {} +; fi
	cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELMORA_WERROR=ON -DVELMORA_SANITIZE=ON \
	  -DVELMORA_BUILD_BENCH=ON
	@echo $(SOURCE_SET) > build/.source-set

build: configure
	cmake --build build -j $(JOBS)

test: setup check-layers build
	cd build && ctest --output-on-failure -j $(JOBS)
	JOBS=$(JOBS) ./scripts/fuzz --smoke
	$(MAKE) check-format
	$(MAKE) check-translations

# Every include of src/ must be one its library's link list allows.
check-layers:
	./scripts/check-layers

check-format:
	@clang-format --dry-run --Werror $(SOURCES) && echo "format check passed"

# Every user-visible text of src/ must be a literal lupdate can extract.
check-translations:
	./scripts/check-translations

format:
	clang-format -i $(SOURCES)

# The optimised build, without sanitizers or tests: what `make run`, `make install` and
# `make bench` use. One configuration serves all three, so switching between them never
# reconfigures the folder; each builds only the targets it needs.
release: setup
	cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_TESTS=OFF \
	  -DVELMORA_BUILD_BENCH=ON

bench: release
	cmake --build build-release -j $(JOBS) --target velmora-bench
	QT_QPA_PLATFORM=offscreen ./build-release/bench/velmora-bench --benchmark_filter='$(BENCH_FILTER)' $(BENCH_ARGS)

# Builds the optimised program and opens the real diary (live mode).
run: release
	cmake --build build-release -j $(JOBS) --target velmora
	./build-release/src/velmora

# `make install PREFIX=/usr DESTDIR=/tmp/stage` stages a package. The PAM service always goes
# to /etc/pam.d (under DESTDIR), the only place PAM reads.
install: release
	cmake --build build-release -j $(JOBS) --target velmora
	DESTDIR='$(DESTDIR)' cmake --install build-release --prefix '$(PREFIX)' --strip

# `make fuzz FUZZ_SECONDS=600` runs every target for ten minutes each.
fuzz: setup
	JOBS=$(JOBS) ./scripts/fuzz

clean:
	rm -rf build build-release build-fuzz
