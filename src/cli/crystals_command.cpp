#include "cli/crystals_command.hpp"

#include <algorithm>
#include <sstream>

#include "cli/cli.hpp"
#include "engine/element_data.hpp"

namespace kelvarin::cli {

std::string crystalsText(const CrystalCatalogue& catalogue) {
    std::ostringstream out;
    out << "# " << catalogue.crystals().size()
        << " crystals; element data of elements outside the built-in tables from xraylib "
        << xraylibVersion() << "\n";
    for (const CatalogueCrystal& c : catalogue.crystals()) {
        out << "\n" << c.name << "  " << c.structure.kind << "  " << c.formula() << "\n";
        out << "  a = " << c.a << " Å  (" << c.aSource << ")\n";
        if (c.c11 && c.c12)
            out << "  C11 = " << *c.c11 << " GPa, C12 = " << *c.c12 << " GPa  (" << c.elasticSource
                << ")\n";
        else
            out << "  C11, C12: not known (layers of it can only be relaxed or given a strain)\n";
        for (std::size_t i = 0; i < c.structure.sites.size(); ++i)
            if (c.structure.sites[i].debyeWallerB != 0)
                out << "  B of site " << i + 1 << " = " << c.structure.sites[i].debyeWallerB
                    << " Å²\n";
        // Where each element's f0 and f', f'' come from (at the tube lines).
        std::vector<std::string> seen;
        out << "  scattering:";
        for (const CrystalSite& site : c.structure.sites)
            for (const SiteSpecies& sp : site.species) {
                if (std::find(seen.begin(), seen.end(), sp.element) != seen.end()) continue;
                seen.push_back(sp.element);
                std::string source;
                try {
                    source = ResolvedElement(sp.element, 4, 0).source();
                } catch (const std::exception& e) {
                    source = e.what();
                }
                out << (seen.size() > 1 ? "; " : " ") << sp.element << " " << source;
            }
        out << "\n  from " << c.origin << "\n";
    }
    return out.str();
}

int doCrystals(const std::string& file, std::ostream& out, std::ostream& err) {
    CrystalCatalogue catalogue = CrystalCatalogue::standard();
    for (const std::string& w : catalogue.warnings())
        err << "kelvarin-cli: " << w << "\n";
    std::vector<std::string> problems;
    if (!file.empty()) catalogue.addFile(file, problems);
    out << crystalsText(catalogue);
    for (const std::string& p : problems)
        err << "kelvarin-cli: " << p << "\n";
    return problems.empty() ? kExitOk : kExitBadInput;
}

}  // namespace kelvarin::cli
