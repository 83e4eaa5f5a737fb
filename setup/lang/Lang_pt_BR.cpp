// Portuguese (Brazil; also shown for Portugal). The restart question and the
// Restart button come twice: the English rows first, then the Portuguese ones
// that replace them.
#include "LangTables.h"

namespace {

const LangEntry kRows[] = {
    {0, L"Instalar"},
    {1, L"Personalizar"},
    {4, L"Criar um atalho na área de trabalho"},
    {5, L"Criar um atalho no menu Iniciar"},
    {6, L"Executar ao iniciar o sistema"},
    {9, L"Iniciar o __PRODUCT_NAME__"},
    {10, L"Tem certeza de que deseja sair da instalação do __PRODUCT_NAME__?"},
    {11, L"OK"},
    {12, L"Cancelar"},
    {13, L"Não é possível continuar a instalação porque o Quillon já está em execução. Feche-o para tentar novamente ou force o fechamento."},
    {14, L"Repetir"},
    {15, L"Forçar fechamento"},
    {16, L"Criar um ícone de Inicialização Rápida"},
    {2, L"Aceitar"},
    {3, L"Contrato de Licença do Usuário"},
    {7, L"Aderir"},
    {8, L"Programa de Melhoria da Experiência do Usuário"},
    {28, L"O Windows XP não é mais compatível."},
    {29, L"O Windows Vista não é mais compatível."},
    {30, L"O __PRODUCT_NAME__ não é compatível com o seu sistema operacional atual."},
    {18, L"Novidades"},
    {19, L"Sim"},
    {20, L"Não"},
    {32, L"Não há espaço livre suficiente na unidade selecionada."},
    {31, L"O caminho de instalação é inválido."},
    {22, L"Tem certeza de que deseja desinstalar?"},
    {23, L"Desinstalar"},
    {24, L"Manter minhas configurações pessoais."},
    {25, L"Desinstalando..."},
    {26, L"Desinstalação concluída! Obrigado pelo seu apoio!"},
    {27, L"Concluir"},
    {17, L"Selecione uma pasta na lista abaixo e clique em OK."},
    {33, L"Ops! Esta versão do __PRODUCT_NAME__ só funciona em sistemas operacionais de 64 bits. Baixe e instale a versão de 32 bits."},
    {34, L"No momento, o __PRODUCT_NAME__ só funciona no Windows de 64 bits."},
    {35, L"Desinstalar"},
    {36, L" – Desinstalação"},
    {37, L" – Aplicativo"},
    {38, L" on-line"},
    {39, L" – Site"},
    {40, L"You must restart your computer to install the new version. Are you sure to proceed?"},
    {41, L"Restart Now"},
    {40, L"Você precisa reiniciar o computador para instalar a nova versão. Deseja continuar?"},
    {41, L"Reiniciar agora"},
    {42, L"Falha no download. Tente novamente ou baixe o instalador off-line em www.tarvex.com."},
    {43, L"O instalador on-line está desatualizado. Baixe a versão mais recente em www.tarvex.com."},
    {44, L"Baixando..."},
    {45, L"Verificando os dados, aguarde..."},
    {46, L"Obtendo informações de download..."},
    {47, L"__PRODUCT_NAME__ on-line"},
    {48, L"Desinstalar o __PRODUCT_NAME__"},
    {21, L"Instalando..."},
    {49, L"Iniciar"},
    {50, L"A instalação começará automaticamente em XXX segundos."},
    {51, L"Baixando o arquivo de instalação..."},
    {52, L"oficial"},
};

}  // namespace

extern const LangTable kLangTablePortuguese = {kRows, sizeof(kRows) / sizeof(kRows[0])};
